#pragma once
// The end of a run that a signal asks for. It comes within a moment, whatever
// the standard streams are doing, even while a write to one of them blocks for
// good (a pipe whose reader stopped reading, a console paused with CTRL-S).

#include <chrono>
#include <cstdio>

namespace mrl {

// Ends the process with status through std::_Exit (no destructor runs, no
// stream is flushed) once limit has passed, whatever any thread is doing then;
// a limit below a millisecond counts as one. One deadline per process: a later
// call replaces the earlier one. Takes SIGALRM and the real-time interval
// timer of the process for it. Any thread may call it.
void EndProcessWithin(std::chrono::milliseconds limit, int status);

// Flushes file, unless another thread keeps it locked for longer than wait (as
// a write of that thread's does while it blocks); true when the flush was made
// and succeeded. The flush itself blocks as long as writes to the file's
// descriptor do. Any thread.
[[nodiscard]] bool FlushUnlessHeld(std::FILE* file, std::chrono::milliseconds wait);

}  // namespace mrl
