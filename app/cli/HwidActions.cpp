#include "HwidActions.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iomanip>
#include <optional>
#include <sstream>

#include "RamImageDownload.h"
#include "link/HwidResult.h"
#include "link/ImgProtocol.h"
#include "link/RfLoaderProtocol.h"
#include "link/XipImageLoader.h"

namespace mrl {
namespace {

const Result kSuccess = qmx::Error::None{};
constexpr std::size_t kHwidTextLength = 12;

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

// The first line of a HWID text file, a final carriage return dropped, and
// where the rest of the file begins.
struct FirstLine {
  std::string text;
  off_t rest_at = 0;
};

// Reads the first line of the file open at fd, but no more of a longer line
// than a valid one could hold before its line feed (its HWID and a carriage
// return). Nothing when the file cannot be read.
std::optional<FirstLine> ReadFirstLine(int fd) {
  std::array<char, kHwidTextLength + 2> start;
  std::size_t got = 0;
  while (got < start.size()) {
    const ssize_t n = ::read(fd, start.data() + got, start.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  const auto begin = start.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(got);
  const auto line_feed = std::find(begin, end, '\n');
  FirstLine first;
  first.text.assign(begin, line_feed);
  first.rest_at = static_cast<off_t>(first.text.size()) + (line_feed != end ? 1 : 0);
  if (!first.text.empty() && first.text.back() == '\r') first.text.pop_back();
  return first;
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

bool IsHwidText(std::string_view text) {
  if (text.size() != kHwidTextLength) return false;
  for (std::size_t group = 0; group < kHwidTextLength; group += 3) {
    if (HWID::b32toi(text.data() + group) < 0) return false;
  }
  return true;
}

Result ReadHwidFile(RunState& state, const FileReplacementSteps& steps) {
  HwidSupply& supply = state.hwid_supply.emplace(state.sethwid, state.console.out);
  const std::optional<FirstLine> first =
      supply.is_open() ? ReadFirstLine(supply.fd()) : std::nullopt;
  const auto refuse = [&](const char* why, const Error& code) {
    state.hwid_supply.reset();
    return Refuse(state, why, code);
  };
  if (!first) return refuse("Unable to open HWID text file for reading!\n", HwidFileCannotOpen());
  // Its rewrite would give the other names the old file, which still offers
  // the HWID this run programs.
  if (supply.links() > 1) {
    return refuse(
        "The HWID text file has more than one name (hard link); its rewrite would part them, "
        "so it is not used.\n",
        SpecificError::kInvalidArgument);
  }
  if (!IsHwidText(first->text)) {
    return refuse("The text file did not contain a valid HWID!\n", SpecificError::kInvalidArgument);
  }
  if (!supply.Prepare(first->rest_at, steps))
    return refuse(kCannotWriteHwidFile, HwidFileCannotOpen());
  state.new_hwid = HWID::base32ToRaw(first->text.c_str());
  return kSuccess;
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

Result HandOutHwid(RunState& state, const FileReplacementSteps& steps) {
  if (!state.hwid_supply || state.hwid_supply->taken_off()) return kSuccess;
  if (state.hwid_supply->Commit(steps)) return kSuccess;
  state.hwid_supply.reset();
  return Refuse(state, kCannotWriteHwidFile, HwidFileCannotOpen());
}

Result WriteBackHwidFile(RunState& state, const FileReplacementSteps& steps) {
  const bool replaced =
      state.hwid_supply && (state.hwid_supply->taken_off() || state.hwid_supply->Commit(steps));
  state.hwid_supply.reset();
  if (replaced) return kSuccess;
  state.console.err << kCannotWriteHwidFile << "The board now holds HWID "
                    << HwidToHexStr(state.new_hwid) << HwidTob32Str(state.new_hwid)
                    << ", which the HWID text file still lists.\n";
  return HwidFileCannotOpen();
}

Result SettleHwidSupply(RunState& state, Result result) {
  if (!result.failed() || !state.hwid_supply || !state.hwid_supply->taken_off()) return result;
  state.hwid_supply.reset();
  state.console.err << "The board may now hold HWID " << HwidToHexStr(state.new_hwid)
                    << HwidTob32Str(state.new_hwid)
                    << ", so it was taken off the HWID text file.\n";
  return result;
}

}  // namespace mrl
