#include "link/Error.h"

namespace mrl {

const std::string& SpecificError::msg() const {
  static const std::string kInvalidArgStr{"Invalid argument received"};
  static const std::string kInvalidChecksumStr{"Invalid checksum"};
  static const std::string kNoHWIDStr{"No HWID found in device"};
  static const std::string kEepromSmallStr{"EEPROM is too small to contain the image"};
  static const std::string kLoaderSlaveStr{"Unexpected input from loader slave"};
  static const std::string kHIDAPIInitStr{"Could not initialize hidapi library"};
  static const std::string kNoPortSpecifiedStr{
      "No port specified. Must specify a COM or HID port."};
  static const std::string kHIDAPIEnumerateStr{"Could not enumerate HID devices."};
  static const std::string kBadBeltoLsPtCmdStr{"Belto LS Passthrough Command was ill-formed"};
  return qmx::Error::LookupText(code(),
                                {{kInvalidChecksum.code(), kInvalidChecksumStr},
                                 {kNoHwid.code(), kNoHWIDStr},
                                 {kEepromTooSmall.code(), kEepromSmallStr},
                                 {kUnexpectedLoaderInput.code(), kLoaderSlaveStr},
                                 {kHidapiInit.code(), kHIDAPIInitStr},
                                 {kNoPortSpecified.code(), kNoPortSpecifiedStr},
                                 {kHidEnumeration.code(), kHIDAPIEnumerateStr},
                                 {kBadPassthroughCommand.code(), kBadBeltoLsPtCmdStr}},
                                kInvalidArgStr);
}

}  // namespace mrl
