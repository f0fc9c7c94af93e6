#pragma once
#include <ostream>

namespace qmx {

// The process-wide verbose stream. It has no buffer, and so discards
// everything written to it, until AttachVerboseStream gives it one.
std::ostream& VerboseStream();

// Makes the verbose stream write into target's buffer from now on (and clears
// its failed state). The verbose stream keeps its own formatting state.
void AttachVerboseStream(std::ostream& target);

}  // namespace qmx
