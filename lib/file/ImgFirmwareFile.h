#pragma once
#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// An EEPROM image written at an EEPROM byte address.
class Img {
 public:
  // 1: invalid memory address; 2: invalid memory length.
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
