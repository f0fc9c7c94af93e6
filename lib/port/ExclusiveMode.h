#pragma once
// The terminals that this process holds in exclusive mode. On a terminal
// whose other side stays open (a pseudo-terminal of a virtual serial port or
// a test rig) the mode outlives the process that set it and refuses every
// later program, so each end of the process gives it back first, also an end
// that runs no destructors.

namespace qmx {

// Puts the terminal open at fd in exclusive mode and notes it; 0, or the
// errno of the refusal. Any thread.
[[nodiscard]] int TakeExclusiveMode(int fd);
// Takes the terminal open at fd out of exclusive mode and forgets it; call
// before fd is closed. Nothing when fd is not noted. Any thread.
void ReleaseExclusiveMode(int fd);
// Takes every noted terminal out of exclusive mode, leaving each open and
// noted, for an end of the process that closes nothing itself (the end on a
// signal). Never waits on a device. Any thread, while others use the
// terminals.
void ReleaseAllExclusiveModes();

}  // namespace qmx
