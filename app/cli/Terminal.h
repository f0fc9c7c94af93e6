#pragma once
// The simple terminal: copies what the board sends to the console and what
// the user types to the board, one byte at a time, until CTRL-C ends the
// program or the port fails.

#include <istream>

#include "RunState.h"
#include "link/Error.h"

namespace mrl {

// Both return success. input is what the user types (standard input in the
// program). With stamp every line of board output starts with the seconds
// since the terminal started.
Result RunTerminal(RunState& state, std::istream& input);
Result RunStampedTerminal(RunState& state, std::istream& input);

}  // namespace mrl
