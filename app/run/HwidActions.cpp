#include "run/HwidActions.h"

#include <iomanip>
#include <sstream>

#include "link/HwidResult.h"
#include "link/ImgProtocol.h"
#include "link/RfLoaderProtocol.h"
#include "link/XipImageLoader.h"
#include "run/RamImageDownload.h"

namespace mrl {
namespace {

const Result kSuccess = qmx::Error::None{};

bool IsAllZero(const HWID::Raw& hwid) {
  return hwid == HWID::Raw{};
}

// Says why on the console's error stream and fails with code.
Result Refuse(RunState& state, const char* why, const Error& code) {
  state.console.err << why;
  return code;
}

const char kCannotWriteHwidFile[] = "Unable to open HWID text file for writing!\n";

// The failure of a HWID text file that cannot be opened, carried as a file error.
Error HwidFileCannotOpen() {
  return Error(TCF::Error(qmx::File::Common::Error::kCannotOpen));
}

// Says on the console why the HWID text file cannot be used, as the outcome
// tells, and fails with its code; success for kDone.
Result SupplyResult(RunState& state, HwidSupply::Outcome outcome) {
  switch (outcome) {
    case HwidSupply::Outcome::kDone:
      return kSuccess;
    case HwidSupply::Outcome::kCannotRead:
      return Refuse(state, "Unable to open HWID text file for reading!\n", HwidFileCannotOpen());
    case HwidSupply::Outcome::kSecondName:
      // Its rewrite would give the other names the old file, which still
      // offers the HWID this run programs.
      return Refuse(state,
                    "The HWID text file has more than one name (hard link); its rewrite would "
                    "part them, so it is not used.\n",
                    SpecificError::kInvalidArgument);
    case HwidSupply::Outcome::kNoHwid:
      return Refuse(state, "The text file did not contain a valid HWID!\n",
                    SpecificError::kInvalidArgument);
    case HwidSupply::Outcome::kCannotWrite:
      break;
  }
  return Refuse(state, kCannotWriteHwidFile, HwidFileCannotOpen());
}

// The HWID in both display forms.
std::string BothForms(const HWID::Raw& hwid) {
  return HwidToHexStr(hwid) + HwidTob32Str(hwid);
}

}  // namespace

std::string HwidOffSupplyLines(const HWID::Raw& hwid, bool may_be_on_board) {
  if (may_be_on_board) {
    return "The board may now hold HWID " + BothForms(hwid) +
           ", so it was taken off the HWID text file.\n";
  }
  return kCannotWriteHwidFile + ("HWID " + BothForms(hwid)) +
         " did not reach the board, but could not be put back on the HWID text file.\n";
}

namespace {

// Puts a HWID that the run took but did not send back on the HWID text file;
// one that cannot be put back is said on the console. False then.
bool GiveBackHeldHwid(RunState& state, const FileReplacementSteps& steps) {
  if (!state.hwid_supply || !state.hwid_supply->holds()) return true;
  if (state.hwid_supply->GiveBack(state.console.out, steps) == HwidSupply::Outcome::kDone) {
    return true;
  }
  state.console.err << HwidOffSupplyLines(state.new_hwid, false);
  return false;
}

// Asks the program that the loader download started for the board's HWID.
// A loader that refuses flash mode fails the query: the writes that follow
// would otherwise land in the EEPROM.
HwidResult QueryBoardHwid(GenericPortProtocol& protocol, const CapturedFlags& flags) {
  if (flags.rfload) return RfLoaderProtocol(protocol).GetHWID();
  ImgProtocol img(protocol);
  if (flags.flash) {
    const Result flash_mode = img.SetFlashMode();
    if (flash_mode.failed()) return std::get<1>(flash_mode);
  }
  return img.GetHWID(flags.no_ruvo, flags.winbond);
}

// Keeps a reported HWID as board_hwid; a board without one leaves board_hwid
// all zero and is no failure.
Result KeepBoardHwid(RunState& state, const HwidResult& reply) {
  if (reply.index() == 0) {
    state.board_hwid = std::get<0>(reply);
    return kSuccess;
  }
  const Error& error = std::get<1>(reply);
  if (IsSpecific(error, SpecificError::kNoHwid)) return kSuccess;
  return error;
}

}  // namespace

std::string HwidToHexStr(HWID::Raw hwid) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << std::setfill('0');
  for (std::uint16_t word : hwid) text << std::setw(4) << word;
  return text.str();
}

std::string HwidTob32Str(HWID::Raw hwid) {
  const HWID::Base32 base32 = HWID::rawToBase32(hwid);
  return " (" + std::string(base32.begin(), base32.end()) + ")";
}

Result ReadHwidFile(RunState& state, const FileReplacementSteps& steps) {
  HwidSupply& supply = state.hwid_supply.emplace(state.sethwid);
  Result checked = SupplyResult(state, supply.Check(steps));
  if (!checked.failed() && !state.extract_file.empty() && supply.IsTheFile(state.extract_file)) {
    checked = Refuse(state,
                     "The extract file is the HWID text file; the EEPROM's bytes would take the "
                     "place of its HWIDs.\n",
                     SpecificError::kInvalidArgument);
  }
  if (checked.failed()) state.hwid_supply.reset();
  return checked;
}

Result TakeSuppliedHwid(RunState& state, const FileReplacementSteps& steps) {
  if (!state.hwid_supply || state.hwid_supply->taken()) return kSuccess;
  HwidSupply& supply = *state.hwid_supply;
  const Result taken = SupplyResult(state, supply.Take(state.console.out, steps));
  if (taken.failed()) return taken;
  state.new_hwid = HWID::base32ToRaw(supply.hwid_text().c_str());
  return AnnounceSuppliedHwid(state);
}

std::function<void()> HwidGoesOutWith(RunState& state, bool carries_hwid) {
  if (!carries_hwid || !state.hwid_supply) return {};
  HwidSupply* const supply = &*state.hwid_supply;
  return [supply] { supply->MarkSent(); };
}

Result ParseHwidArgument(RunState& state) {
  if (!IsHwidText(state.sethwid)) {
    return Refuse(state, "Supplied string is not a valid HWID!\n", SpecificError::kInvalidArgument);
  }
  state.new_hwid = HWID::base32ToRaw(state.sethwid.c_str());
  return kSuccess;
}

Result AnnounceSuppliedHwid(RunState& state) {
  state.console.out << "Using supplied HWID " << HwidToHexStr(state.new_hwid)
                    << HwidTob32Str(state.new_hwid) << " to program the board.\n";
  return kSuccess;
}

const std::vector<std::uint8_t>& HelperImage(bool rfload, std::uint32_t crys_freq) {
  if (rfload) return rf_loader_hex;
  return xip_loader_hexes.at(static_cast<ImgProtocol::CrystalFrequency>(crys_freq));
}

Result LoadHelperAndReadHwid(RunState& state, const CapturedFlags& flags) {
  HexProtocol hex = BootMonitorOf(state);
  return qmx::Error::InOrder<Result>(
      [&] {
        return DownloadToRam(state, hex, HelperImage(flags.rfload, state.crys_freq),
                             !flags.belto_ls_gx2);
      },
      [&] {
        state.console.out << "\n";
        return KeepBoardHwid(state, QueryBoardHwid(*state.port_protocol, flags));
      });
}

Result PrintHwid(RunState& state, bool winbond) {
  std::ostream& out = state.console.out;
  if (winbond) {
    out << "Extracted Winbond HWID = " << HwidToHexStr(state.board_hwid) << "\n";
  } else if (!IsAllZero(state.board_hwid)) {
    out << "Extracted HWID = " << HwidToHexStr(state.board_hwid) << HwidTob32Str(state.board_hwid)
        << "\n";
  } else {
    out << "No valid HWID found.\n";
  }
  return kSuccess;
}

Result RequireExistingHwid(RunState& state) {
  if (!IsAllZero(state.board_hwid)) return kSuccess;
  return Refuse(state,
                "This operation requires the device EEPROM to already have a valid HWID, but one "
                "was not found! Unable to proceed without --sethwid.\n",
                SpecificError::kNoHwid);
}

Result GuardExistingHwid(RunState& state) {
  if (IsAllZero(state.board_hwid)) return kSuccess;
  return Refuse(state,
                "This operation would overwrite the HWID already present in the device EEPROM. "
                "Refusing to proceed unless --force is supplied.\n",
                SpecificError::kInvalidArgument);
}

Result WriteBackHwidFile(RunState& state, const FileReplacementSteps& steps) {
  return GiveBackHeldHwid(state, steps) ? kSuccess : Result(HwidFileCannotOpen());
}

Result SettleHwidSupply(RunState& state, Result result, const FileReplacementSteps& steps) {
  if (!result.failed() || !state.hwid_supply) return result;
  if (GiveBackHeldHwid(state, steps) && state.hwid_supply->sent()) {
    state.console.err << HwidOffSupplyLines(state.new_hwid, true);
  }
  return result;
}

}  // namespace mrl
