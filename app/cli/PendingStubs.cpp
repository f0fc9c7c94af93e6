// Temporary stand-ins until the actions land.
#include "FirmwareActions.h"
#include "HwidActions.h"
#include "PortActions.h"
namespace mrl {
Result CheckPortGiven(const boost::program_options::variables_map&) {
  return SpecificError::kInvalidArgument;
}
Result ListHidDevices(const qmx::Console&) {
  return SpecificError::kInvalidArgument;
}
Result OpenSerialPort(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result OpenHidPort(RunState&, const boost::program_options::variables_map&) {
  return SpecificError::kInvalidArgument;
}
Result SendHidCommand(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ParsePassthroughGpio(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result StartBeltoLsGx2Passthrough(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ResetBoard(RunState&, bool) {
  return SpecificError::kInvalidArgument;
}
std::string HwidToHexStr(HWID::Raw) {
  return {};
}
std::string HwidTob32Str(HWID::Raw) {
  return {};
}
Result ReadHwidFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ParseHwidArgument(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result AnnounceSuppliedHwid(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadHelperAndReadHwid(RunState&, const HelperFlags&) {
  return SpecificError::kInvalidArgument;
}
Result PrintHwid(RunState&, bool) {
  return SpecificError::kInvalidArgument;
}
Result RequireExistingHwid(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result GuardExistingHwid(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result WriteBackHwidFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadHexFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadXipFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadImgFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadTbfFile(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result LoadIs2023File(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ConvertXipToImg(RunState&, bool, bool) {
  return SpecificError::kInvalidArgument;
}
Result PadImageForRf(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result EraseFlashImage(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result DownloadHexImage(RunState&, bool, bool) {
  return SpecificError::kInvalidArgument;
}
Result DownloadImgImage(RunState&, bool) {
  return SpecificError::kInvalidArgument;
}
Result DownloadIs2023Image(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result AddHwidToTbf(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result DownloadTbfTable(RunState&, bool) {
  return SpecificError::kInvalidArgument;
}
Result DownloadHoffEntry(RunState&, bool, bool) {
  return SpecificError::kInvalidArgument;
}
Result TestEepromSize(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ExtractEeprom(RunState&) {
  return SpecificError::kInvalidArgument;
}
Result ClearEeprom(RunState&) {
  return SpecificError::kInvalidArgument;
}
}  // namespace mrl
