#include "file/HOFF.h"

#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "file/HOFFNumber.h"
#include "file/InputFile.h"

namespace HOFF {
namespace {

// Converts a JSON number to an unsigned field the way the JSON library does
// (integers wrap), but refuses a floating value that the field cannot hold,
// whose conversion would be undefined.
template <typename Unsigned>
Unsigned ToUnsigned(const nlohmann::json& j) {
  if (j.is_number_float() && !detail::FloatFits<Unsigned>(j.get<double>()))
    throw std::range_error("number out of range");
  return j.get<Unsigned>();
}

// Entries and sections overlap when either one's start lies inside the other.
bool StartsInside(const Section& a, const Section& b) {
  return b.offset >= a.offset && b.offset < a.offset + a.GetSize();
}

}  // namespace

Section Section::FromEEM(std::string name, unsigned int offset, std::istream& is) {
  Section section{std::move(name), offset, {}};
  for (std::istreambuf_iterator<char> it(is), end; it != end; ++it)
    section.bytes.push_back(static_cast<std::uint8_t>(*it));
  return section;
}

void Section::ToEEM(std::ostream& os) const {
  std::streambuf* buf = os.rdbuf();
  for (std::uint8_t byte : bytes) {
    if (buf->sputc(static_cast<char>(byte)) == std::char_traits<char>::eof()) return;
  }
}

bool Section::operator==(const Section& o) const {
  return name == o.name && offset == o.offset && bytes == o.bytes;
}

ValidResult Entry::IsValid() const {
  for (std::size_t i = 0; i < sections.size(); ++i) {
    for (std::size_t k = i + 1; k < sections.size(); ++k) {
      if (StartsInside(sections[i], sections[k]) || StartsInside(sections[k], sections[i]))
        return Error::kOverlap;
    }
  }
  return qmx::Error::None{};
}

bool Entry::operator==(const Entry& o) const {
  return name == o.name && target == o.target && sections == o.sections;
}

void File::ToStream(std::ostream& os) const {
  os << nlohmann::json(*this);
}

ValidResult File::IsValid() const {
  for (const Entry& entry : entries) {
    ValidResult result = entry.IsValid();
    if (result.failed()) return result;
  }
  return qmx::Error::None{};
}

bool File::operator==(const File& o) const {
  return version == o.version && entries == o.entries && metadata == o.metadata;
}

qmx::Result<File, FileError> FromFile(const std::string& path) {
  return qmx::File::StreamInputFile(path, kMaxFileSize, FileError{Error::kTooLarge}, FromStream);
}

void from_json(const nlohmann::json& j, Section& section) {
  section.name = j.at("name").get<std::string>();
  section.offset = ToUnsigned<unsigned int>(j.at("offset"));
  const nlohmann::json& bytes = j.at("bytes");
  if (!bytes.is_array()) throw std::invalid_argument("bytes is not an array");
  section.bytes.clear();
  section.bytes.reserve(bytes.size());
  for (const nlohmann::json& byte : bytes) section.bytes.push_back(ToUnsigned<std::uint8_t>(byte));
}

void from_json(const nlohmann::json& j, Entry& entry) {
  entry.name = j.at("name").get<std::string>();
  entry.target = j.at("target").get<std::string>();
  entry.sections = j.at("sections").get<std::vector<Section>>();
}

void from_json(const nlohmann::json& j, File& file) {
  file.version = ToUnsigned<unsigned int>(j.at("version"));
  file.entries = j.at("entries").get<std::vector<Entry>>();
  file.metadata.clear();
  if (j.count("metadata"))
    file.metadata = j.at("metadata").get<std::map<std::string, std::string>>();
}

void to_json(nlohmann::json& j, const Section& section) {
  j = nlohmann::json{{"name", section.name}, {"offset", section.offset}, {"bytes", section.bytes}};
}

void to_json(nlohmann::json& j, const Entry& entry) {
  j = nlohmann::json{{"name", entry.name}, {"target", entry.target}, {"sections", entry.sections}};
}

void to_json(nlohmann::json& j, const File& file) {
  j = nlohmann::json{
      {"version", file.version}, {"entries", file.entries}, {"metadata", file.metadata}};
}

}  // namespace HOFF
