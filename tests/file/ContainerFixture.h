#pragma once
// Token texts, older-form archives written from the older classes, and readable descriptions
// of tables for comparing what was read with what was meant.

#include <initializer_list>
#include <map>
#include <sstream>
#include <string>

#include <boost/archive/text_oarchive.hpp>

#include "file/TBF.h"
#include "file/TCF.h"
#include "file/TCFDeprecated.h"

namespace fixture {

// Every token followed by one space, as the writer puts them.
inline std::string Tokens(std::initializer_list<std::string> tokens) {
  std::string text;
  for (const std::string& token : tokens) text += token + ' ';
  return text;
}

// The older form of an object, as the older program stored it.
template <class T>
std::string ArchiveText(const T& object) {
  std::ostringstream os;
  {
    boost::archive::text_oarchive ar(os);
    ar << object;
  }
  return os.str();
}

inline std::string Describe(const qmx::File::Bytes& bytes) {
  std::string text;
  for (const auto byte : bytes) text += (text.empty() ? "" : ",") + std::to_string(byte);
  return "[" + text + "]";
}

inline std::string Describe(const TBF::Table& table) {
  std::string text = "hex ";
  text += table.MaybeGetHexEntry() ? Describe(table.MaybeGetHexEntry()->GetRaw()) : "none";
  for (const TBF::Entry& entry : table.GetBinaryEntries()) {
    text += " @" + std::to_string(entry.GetAddress().value()) + Describe(entry.GetImage().GetRaw());
  }
  return text;
}

struct DescribeFirmware : boost::static_visitor<std::string> {
  std::string operator()(const qmx::File::Hex& f) const { return "hex" + Describe(f.GetRaw()); }
  std::string operator()(const qmx::File::Xip& f) const { return "xip" + Describe(f.GetRaw()); }
  std::string operator()(const qmx::File::Img& f) const { return "img" + Describe(f.GetRaw()); }
  std::string operator()(const TBF::Table& f) const { return "tbf(" + Describe(f) + ")"; }
  std::string operator()(const qmx::File::IS2023& f) const {
    return "is2023@" + std::to_string(f.GetOffset()) + Describe(f.GetData());
  }
};

// Entries and metadata sorted by label, so that hash order does not matter.
inline std::string Describe(const TCF::Table& table) {
  std::map<std::string, std::string> lines;
  for (const auto& [label, file] : table.GetFirmwareEntries()) {
    lines["entry " + label] = boost::apply_visitor(DescribeFirmware{}, file.firmware);
  }
  for (const auto& [key, value] : table.GetMetadata()) lines["meta " + key] = Describe(value);
  std::string text;
  for (const auto& [name, value] : lines) text += name + "=" + value + ";";
  return text;
}

}  // namespace fixture
