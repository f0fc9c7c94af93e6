// Message tables of the firmware files' and containers' error types.
#include "file/HOFF.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/TCF.h"

namespace qmx::File {

const std::string& Common::Error::msg() const {
  static const std::string kOpenStr{"Cannot open file"};
  static const std::string kInvalidStr{"Invalid file format"};
  static const std::string kWriteStr{"Cannot write file"};
  return qmx::Error::LookupText(
      code(), {{kInvalidFormat.code(), kInvalidStr}, {kCannotWrite.code(), kWriteStr}}, kOpenStr);
}

template <>
const std::string& FileErrors<Hex>::SpecificError::msg() const {
  static const std::string kLargeStr{"Hex file is too large"};
  static const std::string kEmptyStr{"Hex file is empty"};
  static const std::string kOddStr{"Hex file has an odd number of bytes"};
  return qmx::Error::LookupText(code(), {{2, kEmptyStr}, {3, kOddStr}}, kLargeStr);
}

template <>
const std::string& FileErrors<Img>::SpecificError::msg() const {
  static const std::string kOffsetStr{"Invalid memory address"};
  static const std::string kLengthStr{"Invalid memory length"};
  return qmx::Error::LookupText(code(), {{2, kLengthStr}}, kOffsetStr);
}

template <>
const std::string& FileErrors<IS2023>::SpecificError::msg() const {
  static const std::string kExceedsAddressStr{"Firmware extends beyond EEPROM"};
  static const std::string kEmptyStr{"Firmware file has no data"};
  static const std::string kBadOffsetStr{"Could not read offset"};
  return qmx::Error::LookupText(code(), {{2, kEmptyStr}, {3, kBadOffsetStr}}, kExceedsAddressStr);
}

}  // namespace qmx::File

namespace TBF {
const std::string& SpecificError::msg() const {
  static const std::string kOverlapStr{"Overlapping start addresses in tbf table entries"};
  return kOverlapStr;
}
}  // namespace TBF

namespace TCF {
const std::string& SpecificError::msg() const {
  static const std::string kFirmwareFileMismatchedStr{"Bundled firmware file is of the wrong type"};
  return kFirmwareFileMismatchedStr;
}
}  // namespace TCF

namespace HOFF {
const std::string& Error::msg() const {
  static const std::string kOverlapStr{"Overlapping sections in entry"};
  static const std::string kParseErrorStr{"Error parsing HOFF file"};
  static const std::string kMissingFieldStr{"HOFF object missing required field."};
  static const std::string kTooLargeStr{"HOFF file is too large (more than " +
                                        std::to_string(kMaxFileSize / (1024 * 1024)) + " MiB)"};
  return qmx::Error::LookupText(code(),
                                {{kParseError.code(), kParseErrorStr},
                                 {kMissingField.code(), kMissingFieldStr},
                                 {kTooLarge.code(), kTooLargeStr}},
                                kOverlapStr);
}
}  // namespace HOFF
