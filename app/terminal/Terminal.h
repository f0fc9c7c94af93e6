#pragma once
// The simple terminal: copies what the board sends to the console and what
// the user types to the board, one byte at a time, until CTRL-C ends the
// program or the port fails.

#include <string>

#include "link/Error.h"
#include "run/RunState.h"

namespace mrl {

// The terminal's first line, without its line feed.
inline const std::string kTermStart{"Starting Quarn Simple Terminal (Press CTRL-C to quit):"};

// Both run until a signal ends the program, or until the port fails (a device
// that has gone, a failed read, a typed byte that could not be written): then
// they write the port's own text for the failure on one line of the console's
// error stream and end with GenericPort error 2 (read) or 3 (write). Once the
// console's output stream has failed they end with success and leave the
// stream failed, for the caller to report. Zero bytes from the board are not
// shown; what follows one is. input_fd is what the user types (standard input
// in the program); it is only read, never closed. With RunStampedTerminal
// every line of board output starts with the seconds since the terminal
// started. The input direction runs on a thread of its own that ends before
// the action returns; when that thread cannot start, a line on the console's
// error stream says so and only the board's output is shown. Called on the
// main thread with the port of state open.
Result RunTerminal(RunState& state, int input_fd);
Result RunStampedTerminal(RunState& state, int input_fd);

}  // namespace mrl
