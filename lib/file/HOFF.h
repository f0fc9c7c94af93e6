#pragma once
// HOFF files: JSON documents that carry firmware as named entries, each a list
// of sections of bytes placed at offsets in the entry's target memory.

#include <cstddef>
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

// 1 (and every code but 2, 3 and 5): overlapping sections; 2: parse error; 3: missing field;
// 5: a file or stream beyond kMaxFileSize.
class Error final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;

  static const Error kOverlap;
  static const Error kParseError;
  static const Error kMissingField;
  static const Error kTooLarge;
};

inline const Error Error::kOverlap{1};
inline const Error Error::kParseError{2};
inline const Error Error::kMissingField{3};
inline const Error Error::kTooLarge{5};

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

// The most text FromStream reads before its document ends, and the longest file FromFile reads.
// Reading holds the bytes, names and metadata the file carries, never a document of its text. A
// flash entry holds sections of up to 131070 bytes (one download), which the JSON library
// writes pretty-printed (indent 2) in some 17 characters a byte: 64 MiB holds some 30 of them,
// about 4 MB of bytes.
inline constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

// Reads one JSON value from the stream as it comes, the sections' bytes straight into their
// vectors (text after the value is left unread). Code 2 when it is not JSON or a value has the
// wrong type, 3 when a required key is absent; the first failure in the order of the document
// conversions (from_json) decides. kTooLarge when the value has not ended within kMaxFileSize
// characters.
qmx::Result<File, Error> FromStream(std::istream& is);

// What reading a HOFF file from its path fails with: the file is not a regular file that can
// be read (qmx::File::Common::Error), or FromStream's error.
class FileError final : public qmx::Error::Variant<qmx::File::Common::Error, Error> {
 public:
  using Variant::Variant;
};

// FromStream of the regular file at path, read as a stream; Cannot open file for anything else,
// kTooLarge beyond kMaxFileSize bytes (at once when the file's size tells so).
qmx::Result<File, FileError> FromFile(const std::string& path);

// The conversions of a document already parsed; FromStream reads as they do.
void from_json(const nlohmann::json& j, Section& section);
void from_json(const nlohmann::json& j, Entry& entry);
void from_json(const nlohmann::json& j, File& file);
void to_json(nlohmann::json& j, const Section& section);
void to_json(nlohmann::json& j, const Entry& entry);
void to_json(nlohmann::json& j, const File& file);

}  // namespace HOFF
