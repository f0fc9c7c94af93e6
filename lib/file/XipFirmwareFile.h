#pragma once
#include "file/ImgFirmwareFile.h"
#include "ruvo/RuvoError.h"

namespace qmx::File {

// An execute-in-place container, converted into an img image bound to a HWID.
class Xip {
 public:
  class Error final : public qmx::Error::Variant<Img::Error, Ruvo::Error> {
   public:
    using Variant::Variant;
  };
};

}  // namespace qmx::File
