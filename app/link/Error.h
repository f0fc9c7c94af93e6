#pragma once
// The application's errors: what every protocol operation and action reports.

#include "error/CommonError.h"
#include "file/TCF.h"
#include "port/GenericPort.h"

namespace mrl {

// 1 (and 0, 10-255): invalid argument; 2: invalid checksum; 3: no HWID;
// 4: EEPROM too small; 5: unexpected input from the loader; 6: hidapi init;
// 7: no port specified; 8: HID enumeration; 9: bad passthrough command.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

class Error final : public qmx::Error::Variant<SpecificError, qmx::GenericPort::Error, TCF::Error> {
 public:
  using Variant::Variant;
};

// The result of every action and every target-protocol operation.
using Result = qmx::Error::Result<qmx::Error::None, Error>;

}  // namespace mrl
