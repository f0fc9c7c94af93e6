#pragma once
#include "error/CommonError.h"

namespace HOFF {

// 1 (and every other code): overlapping sections; 2: parse error; 3: missing field.
class Error : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

}  // namespace HOFF
