#include "HwidActions.h"

#include <fstream>
#include <iomanip>
#include <iterator>
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

// The failure of a HWID text file that cannot be opened, carried as a file error.
Error HwidFileCannotOpen() {
  return Error(TCF::Error(qmx::File::Common::Error::kCannotOpen));
}

// Asks the program that the loader download started for the board's HWID.
HwidResult QueryBoardHwid(GenericPortProtocol& protocol, const CapturedFlags& flags) {
  if (flags.rfload) return RfLoaderProtocol(protocol).GetHWID();
  ImgProtocol img(protocol);
  if (flags.flash) static_cast<void>(img.SetFlashMode());
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

Result ReadHwidFile(RunState& state) {
  std::ifstream file(state.sethwid, std::ios::binary);
  if (!file.is_open()) {
    return Refuse(state, "Unable to open HWID text file for reading!\n", HwidFileCannotOpen());
  }
  state.hwid_file_lines.str(
      std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
  state.hwid_file_lines.clear();
  std::string line;
  std::getline(state.hwid_file_lines, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() != kHwidTextLength) {
    return Refuse(state, "The text file did not contain a valid HWID!\n",
                  SpecificError::kInvalidArgument);
  }
  state.new_hwid = HWID::base32ToRaw(line.c_str());
  return kSuccess;
}

Result ParseHwidArgument(RunState& state) {
  if (state.sethwid.size() != kHwidTextLength) {
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
  std::stringbuf& lines = *state.hwid_file_lines.rdbuf();
  const auto first_unread = lines.pubseekoff(0, std::ios::cur, std::ios::in);
  const std::string rest = lines.str().substr(static_cast<std::size_t>(first_unread));
  if (!ReplaceFileContents(state.sethwid, rest, steps)) {
    return Refuse(state, "Unable to open HWID text file for writing!\n", HwidFileCannotOpen());
  }
  return kSuccess;
}

}  // namespace mrl
