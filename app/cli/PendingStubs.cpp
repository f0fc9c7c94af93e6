// Temporary stand-ins until the actions land.
#include "FirmwareActions.h"
#include "Terminal.h"
namespace mrl {
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
Result RunTerminal(RunState&, int) {
  return SpecificError::kInvalidArgument;
}
Result RunStampedTerminal(RunState&, int) {
  return SpecificError::kInvalidArgument;
}
}  // namespace mrl
