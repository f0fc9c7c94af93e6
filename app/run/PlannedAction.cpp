#include "run/PlannedAction.h"

namespace mrl {

const char* ActionName(ActionId id) {
  switch (id) {
    case ActionId::kParsePassthroughGpio:
      return "ParsePassthroughGpio";
    case ActionId::kCheckPortGiven:
      return "CheckPortGiven";
    case ActionId::kListHidDevices:
      return "ListHidDevices";
    case ActionId::kOpenSerialPort:
      return "OpenSerialPort";
    case ActionId::kOpenHidPort:
      return "OpenHidPort";
    case ActionId::kReadHwidFile:
      return "ReadHwidFile";
    case ActionId::kParseHwidArgument:
      return "ParseHwidArgument";
    case ActionId::kAnnounceSuppliedHwid:
      return "AnnounceSuppliedHwid";
    case ActionId::kLoadHexFile:
      return "LoadHexFile";
    case ActionId::kLoadXipFile:
      return "LoadXipFile";
    case ActionId::kLoadImgFile:
      return "LoadImgFile";
    case ActionId::kLoadTbfFile:
      return "LoadTbfFile";
    case ActionId::kLoadIs2023File:
      return "LoadIs2023File";
    case ActionId::kCheckImgOffset:
      return "CheckImgOffset";
    case ActionId::kGuardHwidSlot:
      return "GuardHwidSlot";
    case ActionId::kPrepareExtractTarget:
      return "PrepareExtractTarget";
    case ActionId::kSendHidCommand:
      return "SendHidCommand";
    case ActionId::kStartBeltoLsGx2Passthrough:
      return "StartBeltoLsGx2Passthrough";
    case ActionId::kLoadHelperAndReadHwid:
      return "LoadHelperAndReadHwid";
    case ActionId::kPrintHwid:
      return "PrintHwid";
    case ActionId::kRequireExistingHwid:
      return "RequireExistingHwid";
    case ActionId::kGuardExistingHwid:
      return "GuardExistingHwid";
    case ActionId::kConvertXipToImg:
      return "ConvertXipToImg";
    case ActionId::kPadImageForRf:
      return "PadImageForRf";
    case ActionId::kTestEepromReach:
      return "TestEepromReach";
    case ActionId::kEraseFlashImage:
      return "EraseFlashImage";
    case ActionId::kDownloadHexImage:
      return "DownloadHexImage";
    case ActionId::kDownloadImgImage:
      return "DownloadImgImage";
    case ActionId::kDownloadIs2023Image:
      return "DownloadIs2023Image";
    case ActionId::kAddHwidToTbf:
      return "AddHwidToTbf";
    case ActionId::kDownloadTbfTable:
      return "DownloadTbfTable";
    case ActionId::kDownloadHoffEntry:
      return "DownloadHoffEntry";
    case ActionId::kTestEepromSize:
      return "TestEepromSize";
    case ActionId::kWriteBackHwidFile:
      return "WriteBackHwidFile";
    case ActionId::kExtractEeprom:
      return "ExtractEeprom";
    case ActionId::kClearEeprom:
      return "ClearEeprom";
    case ActionId::kResetBoard:
      return "ResetBoard";
    case ActionId::kRunTerminal:
      return "RunTerminal";
    case ActionId::kRunStampedTerminal:
      return "RunStampedTerminal";
  }
  return "?";
}

bool CapturedFlags::operator==(const CapturedFlags& other) const {
  return rfload == other.rfload && no_ruvo == other.no_ruvo && flash == other.flash &&
         belto_ls_gx2 == other.belto_ls_gx2 && winbond == other.winbond &&
         sethwid == other.sethwid && ram_only == other.ram_only;
}

}  // namespace mrl
