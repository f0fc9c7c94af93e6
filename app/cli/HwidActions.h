#pragma once
// The actions that obtain, show and guard the two HWIDs of a run: the one to
// program (from `sethwid` or the first line of a HWID text file) and the one
// read from the board through the loader image. Main thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "ActionPlan.h"
#include "FileReplacement.h"
#include "RunState.h"
#include "file/HWID.h"
#include "link/Error.h"

namespace mrl {

// "0x" and the four words as four upper-case hexadecimal digits each.
std::string HwidToHexStr(HWID::Raw hwid);
// " (", the twelve base-32 characters, ")".
std::string HwidTob32Str(HWID::Raw hwid);

// Reads the HWID text file named by `sethwid` whole; its first line (a final
// carriage return dropped) must be 12 characters and becomes new_hwid.
Result ReadHwidFile(RunState& state);
// `sethwid` must be 12 characters; it becomes new_hwid.
Result ParseHwidArgument(RunState& state);
// "Using supplied HWID ... to program the board." on the console.
Result AnnounceSuppliedHwid(RunState& state);

// The loader image that LoadHelperAndReadHwid places in the board's RAM: the
// RF loader with rfload, else the loader image for crys_freq (1 or 2, as the
// options admit).
const std::vector<std::uint8_t>& HelperImage(bool rfload, std::uint32_t crys_freq);
// Resets the board (not behind the passthrough), downloads the loader image
// for `crys_freq` (the RF loader with rfload) and asks it for the HWID, which
// becomes board_hwid. The loader's answer that the board holds no HWID is no
// failure; any other error is, a port error sharing its code included, so that
// a HWID on the board is never taken for none and overwritten. Reads the
// flags rfload, no_ruvo, flash, belto_ls_gx2 and winbond.
Result LoadHelperAndReadHwid(RunState& state, const CapturedFlags& flags);
// Prints board_hwid, or that the board has none; never fails.
Result PrintHwid(RunState& state, bool winbond);
// Fails with kNoHwid when the board has no HWID.
Result RequireExistingHwid(RunState& state);
// Fails with kInvalidArgument when the board has a HWID.
Result GuardExistingHwid(RunState& state);
// Replaces the HWID text file by what follows its first line; the file holds
// either its old or its new contents at every moment. Any failure says so on
// the console and is File::Common error 1; the file keeps its old contents.
Result WriteBackHwidFile(RunState& state,
                         const FileReplacementSteps& steps = FileReplacementSteps{});

}  // namespace mrl
