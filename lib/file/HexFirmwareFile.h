#pragma once
#include <cstddef>

#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// A program image for the boot monitor: 16-bit words, low byte first. Valid with 1 to 32768
// bytes and an even length.
class Hex : public FileErrors<Hex> {
 public:
  // SpecificError codes: 1: too large; 2: empty; 3: odd number of bytes.
  static constexpr std::size_t kMaxLength = 32768;
  // The longest file FromStream may accept: leading zero words are dropped, so a file may hold
  // the target's whole memory of 65536 words with the program at its top. A longer file is
  // refused as too large.
  static constexpr std::size_t kMaxFileSize = 2 * 65536;

  Hex() = default;
  // Takes the bytes unchanged, without checks.
  explicit Hex(Bytes raw) : raw_(std::move(raw)) {}

  // Reads a raw image, dropping the leading 16-bit words that are zero.
  static qmx::Result<Hex, Error> FromStream(std::istream& is);
  // FromStream of the regular file at path; Cannot open file for anything else, too large
  // beyond kMaxFileSize bytes, unread.
  static qmx::Result<Hex, Error> FromFile(const std::string& path);
  static Check IsValidLength(std::size_t length);
  Check IsValid() const { return IsValidLength(raw_.size()); }

  const Bytes& GetRaw() const { return raw_; }
  // The EEPROM bytes the program occupies: 2 x (3 + the sum over the runs of non-zero words of
  // (run length + 2)).
  std::size_t EepromSize() const;

 private:
  Bytes raw_;
};

template <>
const std::string& FileErrors<Hex>::SpecificError::msg() const;

}  // namespace qmx::File
