#pragma once
#include <cstddef>

#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// An EEPROM image written at an EEPROM byte address A. Valid at A: A even, the length even and
// at most 65536, A + length at most 65536.
class Img : public FileErrors<Img> {
 public:
  // SpecificError codes: 1: invalid memory address; 2: invalid memory length.
  using Address = qmx::detail::MemoryType<qmx::detail::EEPROMAddressTraits>;

  static constexpr std::size_t kMaxLength = 65536;
  // The longest file FromStream may accept: the file is the image.
  static constexpr std::size_t kMaxFileSize = kMaxLength;

  Img() = default;
  // Takes the bytes unchanged, without checks.
  explicit Img(Bytes raw) : raw_(std::move(raw)) {}

  // Reads the whole stream; an empty stream is an empty image.
  static qmx::Result<Img, Error> FromStream(std::istream& is);
  // FromStream of the regular file at path; Cannot open file for anything else, an invalid
  // length beyond kMaxFileSize bytes, unread.
  static qmx::Result<Img, Error> FromFile(const std::string& path);
  Check IsValid(Address address) const;

  const Bytes& GetRaw() const { return raw_; }

 private:
  Bytes raw_;
};

template <>
const std::string& FileErrors<Img>::SpecificError::msg() const;

}  // namespace qmx::File
