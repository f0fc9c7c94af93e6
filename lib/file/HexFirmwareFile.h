#pragma once
#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// A program image for the boot monitor: 16-bit words, low byte first.
class Hex {
 public:
  // 1: too large; 2: empty; 3: odd number of bytes.
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
