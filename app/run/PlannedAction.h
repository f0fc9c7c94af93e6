#pragma once
// The vocabulary of a plan of the downloader's actions: which action each
// place holds, and the flags that the action captures when the list is built.

namespace mrl {

enum class ActionId {
  kParsePassthroughGpio,
  kCheckPortGiven,
  kListHidDevices,
  kOpenSerialPort,
  kOpenHidPort,
  kReadHwidFile,
  kParseHwidArgument,
  kAnnounceSuppliedHwid,
  kLoadHexFile,
  kLoadXipFile,
  kLoadImgFile,
  kLoadTbfFile,
  kLoadIs2023File,
  kCheckImgOffset,
  kGuardHwidSlot,
  kPrepareExtractTarget,
  kSendHidCommand,
  kStartBeltoLsGx2Passthrough,
  kLoadHelperAndReadHwid,
  kPrintHwid,
  kRequireExistingHwid,
  kGuardExistingHwid,
  kConvertXipToImg,
  kPadImageForRf,
  kTestEepromReach,
  kEraseFlashImage,
  kDownloadHexImage,
  kDownloadImgImage,
  kDownloadIs2023Image,
  kAddHwidToTbf,
  kDownloadTbfTable,
  kDownloadHoffEntry,
  kTestEepromSize,
  kWriteBackHwidFile,
  kExtractEeprom,
  kClearEeprom,
  kResetBoard,
  kRunTerminal,
  kRunStampedTerminal,
};

// The action's name as the code calls it, e.g. "CheckPortGiven".
const char* ActionName(ActionId id);

// The flags an action captures when the list is built; those it does not
// capture stay false.
struct CapturedFlags {
  bool rfload = false;
  bool no_ruvo = false;
  bool flash = false;
  bool belto_ls_gx2 = false;
  bool winbond = false;
  bool sethwid = false;
  bool ram_only = false;
  bool operator==(const CapturedFlags& other) const;
};

struct PlannedAction {
  ActionId id;
  CapturedFlags flags;
  bool operator==(const PlannedAction& other) const {
    return id == other.id && flags == other.flags;
  }
};

}  // namespace mrl
