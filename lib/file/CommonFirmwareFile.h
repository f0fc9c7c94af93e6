#pragma once
#include "error/CommonError.h"

namespace qmx::File {

// What every firmware file type shares.
struct Common {
  // 1: the stream was not readable; 2: the contents are not a file of the expected kind.
  class Error final : public qmx::Error::Code {
   public:
    using Code::Code;
    const std::string& msg() const override;
  };
};

}  // namespace qmx::File
