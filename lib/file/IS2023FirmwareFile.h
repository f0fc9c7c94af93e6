#pragma once
#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// Firmware of the IS2023 Bluetooth chip: a 16-bit offset and the data.
class IS2023 {
 public:
  // 1: extends beyond the EEPROM; 2: no data; 3: the offset could not be read.
  class SpecificError final : public qmx::Error::Code {
   public:
    using Code::Code;
    const std::string& msg() const override;
  };
  class Error final : public qmx::Error::Variant<Common::Error, SpecificError> {
   public:
    using Variant::Variant;
  };
};

}  // namespace qmx::File
