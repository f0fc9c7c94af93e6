#pragma once
#include "file/CommonFirmwareFile.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/XipFirmwareFile.h"

namespace TCF {

// Every code reads as a bundled file of the wrong type; the system makes it with code 1.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

// The error in which every file, container and image-builder failure reaches the front end.
class Error final
    : public qmx::Error::Variant<qmx::File::Common::Error, qmx::File::Hex::Error,
                                 qmx::File::Img::Error, qmx::File::Xip::Error,
                                 qmx::File::IS2023::Error, TBF::Error, SpecificError> {
 public:
  using Variant::Variant;
};

}  // namespace TCF
