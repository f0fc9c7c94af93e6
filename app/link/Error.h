#pragma once
// The application's errors: what every protocol operation and action reports.

#include <variant>

#include "error/CommonError.h"
#include "file/TCF.h"
#include "port/GenericPort.h"

namespace mrl {

// Every code outside the list reads as an invalid argument.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;

  static const SpecificError kInvalidArgument;
  static const SpecificError kInvalidChecksum;
  static const SpecificError kNoHwid;
  static const SpecificError kEepromTooSmall;
  static const SpecificError kUnexpectedLoaderInput;
  static const SpecificError kHidapiInit;
  static const SpecificError kNoPortSpecified;
  static const SpecificError kHidEnumeration;
  static const SpecificError kBadPassthroughCommand;
};

inline const SpecificError SpecificError::kInvalidArgument{1};
inline const SpecificError SpecificError::kInvalidChecksum{2};
inline const SpecificError SpecificError::kNoHwid{3};
inline const SpecificError SpecificError::kEepromTooSmall{4};
inline const SpecificError SpecificError::kUnexpectedLoaderInput{5};
inline const SpecificError SpecificError::kHidapiInit{6};
inline const SpecificError SpecificError::kNoPortSpecified{7};
inline const SpecificError SpecificError::kHidEnumeration{8};
inline const SpecificError SpecificError::kBadPassthroughCommand{9};

class Error final : public qmx::Error::Variant<SpecificError, qmx::GenericPort::Error, TCF::Error> {
 public:
  using Variant::Variant;
};

// Whether error is this application error itself. A port or file error that
// shares its code is not: callers that tell one failure from the others (no
// HWID, a small EEPROM) must not mistake a broken link for the board's answer.
inline bool IsSpecific(const Error& error, const SpecificError& expected) {
  const auto* specific = std::get_if<SpecificError>(&error.alternatives());
  return specific != nullptr && static_cast<int>(*specific) == expected;
}

// The result of every action and every target-protocol operation.
using Result = qmx::Error::Result<qmx::Error::None, Error>;

}  // namespace mrl
