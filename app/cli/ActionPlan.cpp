#include "cli/ActionPlan.h"

#include "cli/LoaderArgs.h"
#include "run/WriteLimits.h"

namespace mrl {

std::optional<std::string> FirstRefusal(const PlanInput& in) {
  const FormatFlags& f = in.formats;
  const bool offset_set = in.offset != LoaderArgs::kDefaultOffset;
  const bool ranged = in.given("extract") || in.given("clear");
  const bool eeprom_clear = in.given("clear") && !f.flash;
  const bool flash_clear = in.given("clear") && f.flash;
  const bool sethwid = in.given("sethwid");
  const struct {
    bool refused;
    std::string message;
  } refusals[] = {
      {in.given("ram_only") && !f.hex, "Only hex files can reside solely in RAM.\n"},
      {in.given("ram_only") && in.given("force"),
       "Force loading and RAM-only are mutually exclusive.\n"},
      {in.given("rfload") && !f.img && !f.xip,
       "RF loading does not currently support non-xip files.\n"},
      {offset_set && (f.hex || f.xip || f.tbf || f.is2023),
       "None of hex, tbf, xip, or IS2023 files can be loaded at arbitrary offsets.\n"},
      {offset_set && in.given("rfload"),
       "RF loading does not currently support loading at arbitrary offsets.\n"},
      {in.length != LoaderArgs::kDefaultLength && !in.given("extract") && !in.given("clear"),
       "Length argument only applies to extract and clear functions.\n"},
      {in.given("hwid_file") && !in.given("sethwid"),
       "hwid_file argument is only valid if sethwid is also specified.\n"},
      {in.given("hid") && in.given("dev"),
       "Must specify either a serial port or HID device, not both.\n"},
      {in.given("mordell") && !in.given("hid"), "Must specify a HID device to use mordell flag.\n"},
      {in.given("hid_cmd") && !in.given("hid"), "Must specify an HID device to use hid_cmd.\n"},
      // The board gets only the range it is told, and keeps the HWID a run
      // programs.
      {flash_clear && (in.stated("offset") || in.stated("length")),
       "Clearing the flash erases it whole; offset and length apply only to the EEPROM.\n"},
      {ranged && !EndsWithinEeprom(in.offset, in.length),
       "Offset plus length passes the end of the EEPROM (" + std::to_string(kEepromBytes) +
           " bytes).\n"},
      {eeprom_clear && sethwid && CoversHwidSlot(in.offset, in.length),
       "The clear covers " + kHwidSlotText + " that --sethwid programs in this run.\n"},
      {flash_clear && sethwid,
       "Clearing the flash erases the HWID that --sethwid programs in "
       "this run.\n"},
  };
  for (const auto& refusal : refusals) {
    if (refusal.refused) return refusal.message;
  }
  return std::nullopt;
}

std::vector<PlannedAction> PlanActions(const PlanInput& in) {
  const FormatFlags& f = in.formats;
  const auto given = [&](const char* option) { return in.given(option); };
  const bool any_image = f.img || f.xip || f.tbf || f.hex || f.is2023;
  const bool sethwid = given("sethwid");
  const bool hwid_file = given("hwid_file");
  const bool ram_only = given("ram_only");
  const bool force = given("force");
  const bool clear = given("clear");
  const bool hoff = given("hoff");
  const bool eeprom_work = given("gethwid") || given("extract") || clear || given("unlock") ||
                           given("test_size") || hoff;
  // Whether an action writes or reads the EEPROM through the loader image at a
  // place that the files or the range decide.
  const bool eeprom_range = ((f.img || f.xip) && !given("rfload") && !f.flash) || f.tbf ||
                            (hoff && !f.flash) || ((given("extract") || clear) && !f.flash);

  CapturedFlags helper;
  helper.rfload = given("rfload");
  helper.no_ruvo = given("no_ruvo");
  helper.flash = f.flash;
  helper.belto_ls_gx2 = given("belto_ls_gx2");
  helper.winbond = given("winbond");
  CapturedFlags winbond;
  winbond.winbond = given("winbond");
  CapturedFlags convert;
  convert.sethwid = sethwid;
  convert.flash = f.flash;
  CapturedFlags hex_download;
  hex_download.ram_only = ram_only;
  hex_download.belto_ls_gx2 = given("belto_ls_gx2");
  CapturedFlags img_download;
  img_download.rfload = given("rfload");
  img_download.flash = f.flash;
  CapturedFlags belto;
  belto.belto_ls_gx2 = given("belto_ls_gx2");
  CapturedFlags tbf_download = belto;
  tbf_download.flash = f.flash;
  CapturedFlags hoff_download;
  hoff_download.flash = f.flash;
  hoff_download.sethwid = sethwid;
  CapturedFlags flash;
  flash.flash = f.flash;

  // The fixed order of every action the downloader knows, each with the
  // condition that appends it and the flags it captures.
  const struct {
    bool appended;
    ActionId id;
    CapturedFlags flags;
  } places[] = {
      {given("belto_ls_pt_gpio"), ActionId::kParsePassthroughGpio, {}},
      {any_image || eeprom_work || given("reset") || given("term") || given("rfload") ||
           given("belto_ls_gx2"),
       ActionId::kCheckPortGiven,
       {}},
      {given("list_hid"), ActionId::kListHidDevices, {}},
      {given("dev"), ActionId::kOpenSerialPort, {}},
      {given("hid"), ActionId::kOpenHidPort, {}},
      {sethwid && hwid_file, ActionId::kReadHwidFile, {}},
      {sethwid && !hwid_file, ActionId::kParseHwidArgument, {}},
      // A HWID from a HWID text file is announced when it is taken off it.
      {sethwid && !hwid_file, ActionId::kAnnounceSuppliedHwid, {}},
      // What the files and options alone refuse is refused before the board
      // is asked anything.
      {given("hex"), ActionId::kLoadHexFile, {}},
      {given("xip"), ActionId::kLoadXipFile, {}},
      {given("img"), ActionId::kLoadImgFile, {}},
      {given("tbf"), ActionId::kLoadTbfFile, {}},
      {given("IS2023"), ActionId::kLoadIs2023File, {}},
      {f.img && in.offset != LoaderArgs::kDefaultOffset, ActionId::kCheckImgOffset, {}},
      {f.tbf && sethwid, ActionId::kGuardHwidSlot, {}},
      {given("extract"), ActionId::kPrepareExtractTarget, {}},
      {given("hid_cmd"), ActionId::kSendHidCommand, {}},
      {given("belto_ls_gx2"), ActionId::kStartBeltoLsGx2Passthrough, {}},
      {f.img || f.xip || f.is2023 || f.tbf || (f.hex && !ram_only && !force) || eeprom_work,
       ActionId::kLoadHelperAndReadHwid, helper},
      {given("gethwid"), ActionId::kPrintHwid, winbond},
      {f.xip && !sethwid, ActionId::kRequireExistingHwid, {}},
      {!force && ((f.hex && !ram_only) || f.img || f.tbf || clear || hoff || (f.xip && sethwid)),
       ActionId::kGuardExistingHwid,
       {}},
      {f.xip, ActionId::kConvertXipToImg, convert},
      {given("rfload"), ActionId::kPadImageForRf, {}},
      // Every file is loaded and converted, nothing written yet.
      {eeprom_range, ActionId::kTestEepromReach, {}},
      {f.flash && (f.xip || f.hex || f.img || f.tbf || hoff), ActionId::kEraseFlashImage, {}},
      {f.hex, ActionId::kDownloadHexImage, hex_download},
      {f.img || f.xip, ActionId::kDownloadImgImage, img_download},
      {f.is2023, ActionId::kDownloadIs2023Image, {}},
      {f.tbf && sethwid, ActionId::kAddHwidToTbf, {}},
      {f.tbf, ActionId::kDownloadTbfTable, tbf_download},
      {hoff, ActionId::kDownloadHoffEntry, hoff_download},
      {given("test_size"), ActionId::kTestEepromSize, {}},
      {sethwid && hwid_file, ActionId::kWriteBackHwidFile, {}},
      {given("extract"), ActionId::kExtractEeprom, flash},
      {clear, f.flash ? ActionId::kEraseFlashImage : ActionId::kClearEeprom, {}},
      {given("reset"), ActionId::kResetBoard, belto},
      {given("term"), given("stamp") ? ActionId::kRunStampedTerminal : ActionId::kRunTerminal, {}},
  };
  std::vector<PlannedAction> planned;
  for (const auto& place : places) {
    if (place.appended) planned.push_back({place.id, place.flags});
  }
  return planned;
}

}  // namespace mrl
