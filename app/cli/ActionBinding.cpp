#include "cli/ActionBinding.h"

#include "run/FirmwareActions.h"
#include "run/HwidActions.h"
#include "run/PortActions.h"
#include "terminal/Terminal.h"

namespace mrl {

std::function<Result()> BindAction(const std::vector<PlannedAction>& plan, std::size_t at,
                                   RunState& state, const boost::program_options::variables_map& vm,
                                   int input_fd) {
  const PlannedAction& planned = plan.at(at);
  RunState* s = &state;
  const CapturedFlags f = planned.flags;
  switch (planned.id) {
    case ActionId::kParsePassthroughGpio:
      return [s] { return ParsePassthroughGpio(*s); };
    case ActionId::kCheckPortGiven:
      return [&vm] { return CheckPortGiven(vm); };
    case ActionId::kListHidDevices:
      return [s] { return ListHidDevices(s->console); };
    case ActionId::kOpenSerialPort:
      return [s] { return OpenSerialPort(*s); };
    case ActionId::kOpenHidPort:
      return [s, &vm] { return OpenHidPort(*s, vm); };
    case ActionId::kReadHwidFile:
      return [s] { return ReadHwidFile(*s); };
    case ActionId::kParseHwidArgument:
      return [s] { return ParseHwidArgument(*s); };
    case ActionId::kAnnounceSuppliedHwid:
      return [s] { return AnnounceSuppliedHwid(*s); };
    case ActionId::kLoadHexFile:
      return [s] { return LoadHexFile(*s); };
    case ActionId::kLoadXipFile:
      return [s] { return LoadXipFile(*s); };
    case ActionId::kLoadImgFile:
      return [s] { return LoadImgFile(*s); };
    case ActionId::kLoadTbfFile:
      return [s] { return LoadTbfFile(*s); };
    case ActionId::kLoadIs2023File:
      return [s] { return LoadIs2023File(*s); };
    case ActionId::kCheckImgOffset:
      return [s] { return CheckImgOffset(*s); };
    case ActionId::kGuardHwidSlot:
      return [s] { return GuardHwidSlot(*s); };
    case ActionId::kPrepareExtractTarget:
      return [s] { return PrepareExtractTarget(*s); };
    case ActionId::kSendHidCommand:
      return [s] { return SendHidCommand(*s); };
    case ActionId::kStartBeltoLsGx2Passthrough:
      return [s] { return StartBeltoLsGx2Passthrough(*s); };
    case ActionId::kLoadHelperAndReadHwid:
      return [s, f] { return LoadHelperAndReadHwid(*s, f); };
    case ActionId::kPrintHwid:
      return [s, f] { return PrintHwid(*s, f.winbond); };
    case ActionId::kRequireExistingHwid:
      return [s] { return RequireExistingHwid(*s); };
    case ActionId::kGuardExistingHwid:
      return [s] { return GuardExistingHwid(*s); };
    case ActionId::kConvertXipToImg:
      return [s, f] { return ConvertXipToImg(*s, f.sethwid, f.flash); };
    case ActionId::kPadImageForRf:
      return [s] { return PadImageForRf(*s); };
    case ActionId::kTestEepromReach:
      return [s, later = std::vector<PlannedAction>(
                     plan.begin() + static_cast<std::ptrdiff_t>(at) + 1, plan.end())] {
        return TestEepromReach(*s, later);
      };
    case ActionId::kEraseFlashImage:
      return [s] { return EraseFlashImage(*s); };
    case ActionId::kDownloadHexImage:
      return [s, f] { return DownloadHexImage(*s, f.ram_only, f.belto_ls_gx2); };
    case ActionId::kDownloadImgImage:
      return [s, f] { return DownloadImgImage(*s, f.rfload, f.flash); };
    case ActionId::kDownloadIs2023Image:
      return [s] { return DownloadIs2023Image(*s); };
    case ActionId::kAddHwidToTbf:
      return [s] { return AddHwidToTbf(*s); };
    case ActionId::kDownloadTbfTable:
      return [s, f] { return DownloadTbfTable(*s, f.belto_ls_gx2, f.flash); };
    case ActionId::kDownloadHoffEntry:
      return [s, f] { return DownloadHoffEntry(*s, f.flash, f.sethwid); };
    case ActionId::kTestEepromSize:
      return [s] { return TestEepromSize(*s); };
    case ActionId::kWriteBackHwidFile:
      return [s] { return WriteBackHwidFile(*s); };
    case ActionId::kExtractEeprom:
      return [s, f] { return ExtractEeprom(*s, f.flash); };
    case ActionId::kClearEeprom:
      return [s] { return ClearEeprom(*s); };
    case ActionId::kResetBoard:
      return [s, f] { return ResetBoard(*s, f.belto_ls_gx2); };
    case ActionId::kRunTerminal:
      return [s, input_fd] { return RunTerminal(*s, input_fd); };
    case ActionId::kRunStampedTerminal:
      return [s, input_fd] { return RunStampedTerminal(*s, input_fd); };
  }
  return [] { return Result(SpecificError::kInvalidArgument); };
}

}  // namespace mrl
