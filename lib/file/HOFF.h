#pragma once
// HOFF files: JSON documents that carry firmware as named entries, each a list
// of sections of bytes placed at offsets in the entry's target memory.

#include <cstdint>
#include <istream>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "error/CommonError.h"
#include "file/CommonFirmwareFile.h"

namespace HOFF {

// 1 (and every other code): overlapping sections; 2: parse error; 3: missing field.
class Error final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

using ValidResult = qmx::Error::Result<qmx::Error::None, Error>;

struct Section {
  std::string name;
  unsigned int offset = 0;
  std::vector<std::uint8_t> bytes;

  // A section holding every byte from the stream's position to its end, taken raw.
  static Section FromEEM(std::string name, unsigned int offset, std::istream& is);
  // Writes the bytes raw; stops silently at the first byte the stream refuses.
  void ToEEM(std::ostream& os) const;
  unsigned int GetSize() const { return static_cast<unsigned int>(bytes.size()); }
  bool operator==(const Section& other) const;
};

struct Entry {
  std::string name;
  std::string target;
  std::vector<Section> sections;

  // Code 1 when two sections' byte ranges overlap; sections that only touch do not.
  ValidResult IsValid() const;
  bool operator==(const Entry& other) const;
};

struct File {
  unsigned int version = 0;
  std::vector<Entry> entries;
  std::map<std::string, std::string> metadata;

  // Writes the file as JSON: compact, or indented by the stream's field width when set.
  // The JSON library's exceptions (a string that is not UTF-8) reach the caller.
  void ToStream(std::ostream& os) const;
  const std::vector<Entry>& GetEntries() const { return entries; }
  // The overlap check of every entry; the first failure.
  ValidResult IsValid() const;
  bool operator==(const File& other) const;
};

// Reads one JSON value from the stream (text after it is left unread). Code 2 when
// it is not JSON or a value has the wrong type, 3 when a required key is absent.
qmx::Result<File, Error> FromStream(std::istream& is);

// What reading a HOFF file from its path fails with: the file is not a regular file that can
// be read (qmx::File::Common::Error), or FromStream's error.
class FileError final : public qmx::Error::Variant<qmx::File::Common::Error, Error> {
 public:
  using Variant::Variant;
};

// The longest file FromFile reads. An entry's sections go to the EEPROM (64 KiB, the most any
// image of this system holds, for flash too); the JSON library writes a byte as at most three
// digits and a comma, or pretty-printed as some 30 characters with the indentation of the byte
// arrays. 4 MiB holds a full EEPROM image twice in the widest form, or 1 MiB of bytes written
// compactly. The parsed document costs up to some 20 times the text.
inline constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

// FromStream of the regular file at path; Cannot open file for anything else, a parse error
// beyond kMaxFileSize bytes, unread.
qmx::Result<File, FileError> FromFile(const std::string& path);

void from_json(const nlohmann::json& j, Section& section);
void from_json(const nlohmann::json& j, Entry& entry);
void from_json(const nlohmann::json& j, File& file);
void to_json(nlohmann::json& j, const Section& section);
void to_json(nlohmann::json& j, const Entry& entry);
void to_json(nlohmann::json& j, const File& file);

}  // namespace HOFF
