#pragma once
#include "file/CommonFirmwareFile.h"
#include "file/HexFirmwareFile.h"
#include "file/ImgFirmwareFile.h"

namespace TBF {

// Every code reads as overlapping entries; the system makes it with code 1.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

class Error final : public qmx::Error::Variant<qmx::File::Common::Error, qmx::File::Hex::Error,
                                               qmx::File::Img::Error, SpecificError> {
 public:
  using Variant::Variant;
};

}  // namespace TBF
