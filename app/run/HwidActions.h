#pragma once
// The actions that obtain, show and guard the two HWIDs of a run: the one to
// program (from `sethwid` or the first line of a HWID text file) and the one
// read from the board through the loader image. Main thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "file/HWID.h"
#include "file/HwidSupply.h"
#include "link/Error.h"
#include "run/PlannedAction.h"
#include "run/RunState.h"

namespace mrl {

// "0x" and the four words as four upper-case hexadecimal digits each.
std::string HwidToHexStr(HWID::Raw hwid);
// " (", the twelve base-32 characters, ")".
std::string HwidTob32Str(HWID::Raw hwid);

// Makes the HWID text file named by `sethwid` the run's supply, once it is
// found fit for the run: a readable regular file of one name (through
// symbolic links; never waited on), whose first line (a final carriage
// return dropped) is HWID text, that this user may write and that can be
// rewritten, and that is not the extract file. Holds nothing and changes
// nothing: the HWID is taken later, by TakeSuppliedHwid, so that the file
// offers its lines to other runs while this one works with its board.
Result ReadHwidFile(RunState& state, const FileReplacementSteps& steps = FileReplacementSteps{});
// Takes the first line off the run's HWID text file, from what the file
// holds now, as new_hwid, and announces it (AnnounceSuppliedHwid); success
// at once without a HWID text file or when done already. Called by the
// actions that need new_hwid, just before they bind it to what they send. A
// file that no longer offers a HWID fails as ReadHwidFile would.
Result TakeSuppliedHwid(RunState& state,
                        const FileReplacementSteps& steps = FileReplacementSteps{});
// What a transfer runs just before its first byte of data goes out, when
// that transfer carries the HWID to program (carries_hwid): from then on the
// taken HWID is no longer given back to its file. Empty otherwise.
std::function<void()> HwidGoesOutWith(RunState& state, bool carries_hwid);
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
// Gives a HWID that the run took off its HWID text file but never sent back
// to the file, first again (a download that took it may not have sent it);
// the file itself was rewritten when the HWID was taken. A HWID that cannot
// be put back is said on the console and is File::Common error 1.
Result WriteBackHwidFile(RunState& state,
                         const FileReplacementSteps& steps = FileReplacementSteps{});
// The lines that name a HWID the run took off its HWID text file for good:
// one that may have reached the board, else one that did not but could not
// be put back.
std::string HwidOffSupplyLines(const HWID::Raw& hwid, bool may_be_on_board);
// Passes an action's result on. When it is a failure, first gives a taken
// HWID that was not sent back to the HWID text file, or, once it may have
// reached the board, says on the console that the board may hold that HWID
// and that the file no longer lists it.
Result SettleHwidSupply(RunState& state, Result result,
                        const FileReplacementSteps& steps = FileReplacementSteps{});

}  // namespace mrl
