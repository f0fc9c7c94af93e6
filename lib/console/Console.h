#pragma once
// Where a run talks to its user. Requested output (help, HWIDs, progress
// headlines, terminal text) goes to out, user errors and refusals to err; the
// step-by-step detail goes to the verbose stream instead.

#include <ostream>

namespace qmx {

struct Console {
  std::ostream& out;
  std::ostream& err;
};

}  // namespace qmx
