#pragma once
// Turning a planned action into the callable that the run loop calls.

#include <boost/program_options/variables_map.hpp>
#include <functional>
#include <istream>

#include "ActionPlan.h"
#include "RunState.h"
#include "link/Error.h"

namespace mrl {

// The action of planned, working on state (and on vm or input where it needs
// them) when called; all three must outlive it.
std::function<Result()> BindAction(const PlannedAction& planned, RunState& state,
                                   const boost::program_options::variables_map& vm,
                                   std::istream& input);

}  // namespace mrl
