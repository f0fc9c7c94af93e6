#pragma once
// Selecting the one entry of a TCF or HOFF container that a run loads, while
// the action list is built.

#include <boost/program_options/variables_map.hpp>

#include "run/RunState.h"

namespace mrl {

// Reads the TCF container named by input_file and puts the entry that
// `tcf_entry` names (or the only one) into firmware. False when no entry can
// be selected (the container cannot be read, holds none, holds several and
// none is named, or not the one named), after saying why on the console: the
// command line is then refused.
[[nodiscard]] bool SelectTcfEntry(RunState& state, const boost::program_options::variables_map& vm);
// Reads the HOFF file named by input_file into hoff_file and selects the
// entry that `hoff_entry` names (or the only one, whose name becomes
// hoff_entry). True with the selected entry's target in *target; false, as
// for a TCF container, when no entry can be selected: the command line is
// then refused.
[[nodiscard]] bool SelectHoffEntry(RunState& state, const boost::program_options::variables_map& vm,
                                   std::string* target);

}  // namespace mrl
