#pragma once
// Deciding which of the downloader's actions a command line asks for, apart
// from doing them: the format flags, the refusals of contradictory options and
// the 38 places of the fixed order, each with its condition and the flags its
// action captures.

#include <boost/program_options/variables_map.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mrl {

// The format flags: what kind of image the run downloads and to which memory.
struct FormatFlags {
  bool hex = false;
  bool xip = false;
  bool img = false;
  bool tbf = false;  // also `sethwid` without an xip image
  bool is2023 = false;
  bool flash = false;
};

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

// What the plan reads: which options were given, and the two defaulted values
// it tests.
struct PlanInput {
  const boost::program_options::variables_map& vm;
  FormatFlags formats;
  std::uint16_t offset;
  std::uint32_t length;
  bool given(const char* option) const { return vm.count(option) != 0; }
  // Whether the option is on the command line, not only held with its default.
  bool stated(const char* option) const { return given(option) && !vm[option].defaulted(); }
};

// The first refusal that holds, as its message with the line feed; none when
// the options combine.
std::optional<std::string> FirstRefusal(const PlanInput& input);
// The actions in the order they run.
std::vector<PlannedAction> PlanActions(const PlanInput& input);

}  // namespace mrl
