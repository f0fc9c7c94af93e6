#pragma once
// The actions that obtain, show and guard the two HWIDs of a run: the one to
// program (from `sethwid` or the first line of a HWID text file) and the one
// read from the board through the loader image. Main thread only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ActionPlan.h"
#include "HwidSupply.h"
#include "RunState.h"
#include "file/FileReplacement.h"
#include "file/HWID.h"
#include "link/Error.h"

namespace mrl {

// "0x" and the four words as four upper-case hexadecimal digits each.
std::string HwidToHexStr(HWID::Raw hwid);
// " (", the twelve base-32 characters, ")".
std::string HwidTob32Str(HWID::Raw hwid);

// Whether text is a HWID as people type it: twelve characters, each of the
// alphabet. A typo must not become a board's identity, so both ways of giving
// the HWID to program accept nothing else.
bool IsHwidText(std::string_view text);

// Takes the HWID text file named by `sethwid` (a regular file, never waited
// on unless another run holds it, see HwidSupply) for the run and reads its
// first line; that line, a final carriage return dropped, must be HWID text
// and becomes new_hwid. A file with more than one name is refused. The rest
// of the file is copied, not held, into the rewrite that WriteBackHwidFile
// puts in the file's place, so a file that cannot be rewritten fails here,
// before the board is touched; the file itself is left as it is.
Result ReadHwidFile(RunState& state, const FileReplacementSteps& steps = FileReplacementSteps{});
// `sethwid` must be HWID text; it becomes new_hwid.
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
// a HWID on the board is never taken for none and overwritten. With flash the
// loader is switched to flash mode first, and a refusal fails the action.
// Reads the flags rfload, no_ruvo, flash, belto_ls_gx2 and winbond.
Result LoadHelperAndReadHwid(RunState& state, const CapturedFlags& flags);
// Prints board_hwid, or that the board has none; never fails.
Result PrintHwid(RunState& state, bool winbond);
// Fails with kNoHwid when the board has no HWID.
Result RequireExistingHwid(RunState& state);
// Fails with kInvalidArgument when the board has a HWID.
Result GuardExistingHwid(RunState& state);
// Takes the HWID to program off the HWID text file now, as WriteBackHwidFile
// does, just before the transfer that carries it to the board begins: however
// the run ends from here on (a failure, a signal, a kill), the file no longer
// offers a HWID that a board may hold, and the next run may take the file.
// Success at once without a HWID text file or when done already. A rewrite
// that fails says so and is File::Common error 1; the HWID must then not be
// sent, since the file still lists it.
Result HandOutHwid(RunState& state, const FileReplacementSteps& steps = FileReplacementSteps{});
// Replaces the HWID text file by what it holds now without its first line
// (unless HandOutHwid did so already), and lets the file go; the file holds
// either its old or its new contents at every moment. Any failure says so on
// the console, together with the HWID the board now holds that the file still
// lists, and is File::Common error 1; the file keeps its old contents.
Result WriteBackHwidFile(RunState& state,
                         const FileReplacementSteps& steps = FileReplacementSteps{});
// Passes an action's result on. When it is a failure that came after
// HandOutHwid took the HWID off the HWID text file, first says on the console
// that the board may hold that HWID and that the file no longer lists it.
Result SettleHwidSupply(RunState& state, Result result);

}  // namespace mrl
