#pragma once
#include "error/CommonError.h"

namespace Ruvo {

// The image builder's error. Code 1 is its generic failure.
class Error final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

}  // namespace Ruvo
