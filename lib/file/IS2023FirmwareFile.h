#pragma once
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// Firmware of the IS2023 Bluetooth chip: a 16-bit offset and the data. The file stores the
// offset in its first two bytes, low byte first, and the data in the rest. Valid with at least
// one data byte and offset + data length at most 8192.
class IS2023 : public FileErrors<IS2023> {
 public:
  // SpecificError codes: 1: extends beyond the EEPROM; 2: no data; 3: the offset could not be read.
  static constexpr std::size_t kEepromSize = 8192;
  // The longest file FromStream may accept: the offset and data filling the EEPROM.
  static constexpr std::size_t kMaxFileSize = 2 + kEepromSize;

  IS2023() = default;
  // Takes both unchanged, without checks.
  IS2023(std::uint16_t offset, Bytes data) : offset_(offset), data_(std::move(data)) {}

  static qmx::Result<IS2023, Error> FromStream(std::istream& is);
  // FromStream of the regular file at path; Cannot open file for anything else, extending
  // beyond the EEPROM beyond kMaxFileSize bytes, unread.
  static qmx::Result<IS2023, Error> FromFile(const std::string& path);
  static Check IsValidLength(std::uint16_t offset, std::size_t length);
  Check IsValid() const { return IsValidLength(offset_, data_.size()); }

  std::uint16_t GetOffset() const { return offset_; }
  const Bytes& GetData() const { return data_; }
  // Writes the file that FromStream reads back.
  void ToStream(std::ostream& os) const;

 private:
  std::uint16_t offset_ = 0;
  Bytes data_;
};

template <>
const std::string& FileErrors<IS2023>::SpecificError::msg() const;

}  // namespace qmx::File
