#pragma once
// What the firmware actions share: reaching the firmware of the kind an action
// works on, reporting file errors, the EEPROM size test, and the HWID as
// EEPROM holds it.

#include <cstdint>
#include <utility>
#include <variant>

#include <boost/variant/get.hpp>

#include "file/CommonFirmwareFile.h"
#include "file/HWID.h"
#include "file/TCF.h"
#include "link/Error.h"
#include "link/ImgProtocol.h"
#include "run/RunState.h"
#include "run/WriteLimits.h"

namespace mrl {

// Runs use on the firmware when it holds an Image. Any other kind fails with
// kInvalidArgument before anything reaches the board; the action list never
// lets that happen.
template <typename Image, typename Use>
Result WithFirmware(RunState& state, Use&& use) {
  Image* image = boost::get<Image>(&state.firmware);
  if (image == nullptr) return Error(SpecificError::kInvalidArgument);
  return use(*image);
}

// A file, container or image-builder error as the actions report it; its type
// picks its place in TCF::Error.
inline Result FileFailure(TCF::Error error) {
  return Error(std::move(error));
}

// A file check (an Error::Result of a file type) as an action's result.
template <typename Check>
Result FileCheck(const Check& check) {
  if (!check.failed()) return qmx::Error::None{};
  return FileFailure(TCF::Error(std::get<1>(check.alternatives())));
}

// Replaces firmware by the produced image, or leaves it unchanged and reports
// the producer's error.
template <typename Produced>
Result StoreFirmware(RunState& state, Produced&& produced) {
  if (produced.index() == 1) return FileFailure(TCF::Error(std::get<1>(std::move(produced))));
  state.firmware = std::get<0>(std::move(produced));
  return qmx::Error::None{};
}

// Runs the loader's EEPROM size test when what is written or read ends
// beyond a 256-kbit EEPROM, unless a test of this run found the 512-kbit one
// already; success otherwise, without asking the board.
inline Result EnsureEepromHolds(RunState& state, ImgProtocol& loader, std::uint64_t end) {
  if (end <= kSmallEepromBytes || state.large_eeprom_found) return qmx::Error::None{};
  Result result = loader.CheckEepromSize();
  state.large_eeprom_found = !result.failed();
  return result;
}

// The 8 bytes of hwid as EEPROM holds them: each word high byte first.
inline qmx::File::Bytes HwidBytes(const HWID::Raw& hwid) {
  qmx::File::Bytes bytes;
  for (std::uint16_t word : hwid) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
    bytes.push_back(static_cast<std::uint8_t>(word));
  }
  return bytes;
}

}  // namespace mrl
