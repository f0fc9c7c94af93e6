#pragma once
// Turning a planned action into the callable that the run loop calls.

#include <boost/program_options/variables_map.hpp>
#include <functional>

#include "ActionPlan.h"
#include "RunState.h"
#include "link/Error.h"

namespace mrl {

// The action of planned, working on state (and on vm or the user's input
// input_fd where it needs them) when called; they must outlive it.
std::function<Result()> BindAction(const PlannedAction& planned, RunState& state,
                                   const boost::program_options::variables_map& vm, int input_fd);

}  // namespace mrl
