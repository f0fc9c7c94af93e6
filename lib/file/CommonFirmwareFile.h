#pragma once
#include <cstdint>
#include <istream>
#include <vector>

#include "error/CommonError.h"

namespace qmx::detail {

// A 16-bit EEPROM byte address.
struct EEPROMAddressTraits {
  using ValueType = std::uint16_t;
};
// A 32-bit byte count.
struct MemoryLengthTraits {
  using ValueType = std::uint32_t;
};

// One unsigned value of the width its traits name.
template <typename Traits>
class MemoryType {
 public:
  using ValueType = typename Traits::ValueType;

  constexpr MemoryType() = default;
  constexpr explicit MemoryType(ValueType value) : value_(value) {}
  constexpr ValueType value() const { return value_; }

 private:
  ValueType value_ = 0;
};

}  // namespace qmx::detail

namespace qmx::File {

using Bytes = std::vector<std::uint8_t>;

// What every firmware file type shares.
struct Common {
  Common() = delete;

  // kCannotOpen: the stream was not readable; kInvalidFormat: the contents are not a file of
  // the expected kind; kCannotWrite: what was to go into a file did not all get there.
  class Error final : public qmx::Error::Code {
   public:
    using Code::Code;
    const std::string& msg() const override;

    static const Error kCannotOpen;
    static const Error kInvalidFormat;
    static const Error kCannotWrite;
  };

  // Reads the whole stream from its start, unchecked and without a size limit. Error 1 when
  // the stream is not good when called, cannot tell its length (it cannot seek), holds fewer
  // bytes than it tells or is longer than the memory can hold.
  static qmx::Result<Bytes, Error> FromStreamRawUnchecked(std::istream& is);
};

inline const Common::Error Common::Error::kCannotOpen{1};
inline const Common::Error Common::Error::kInvalidFormat{2};
inline const Common::Error Common::Error::kCannotWrite{3};

// The error types of one file type, which derives from FileErrors<itself>: its own codes
// (SpecificError, whose messages the type's source defines), and those together with the
// common ones (Error).
template <typename FileType>
struct FileErrors {
  class SpecificError final : public qmx::Error::Code {
   public:
    using Code::Code;
    const std::string& msg() const override;
  };
  class Error final : public qmx::Error::Variant<Common::Error, SpecificError> {
   public:
    using qmx::Error::Variant<Common::Error, SpecificError>::Variant;
  };
  using Check = qmx::Error::Result<qmx::Error::None, Error>;
};

}  // namespace qmx::File
