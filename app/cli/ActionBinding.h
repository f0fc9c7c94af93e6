#pragma once
// Turning a planned action into the callable that the run loop calls.

#include <boost/program_options/variables_map.hpp>
#include <cstddef>
#include <functional>
#include <vector>

#include "cli/ActionPlan.h"
#include "link/Error.h"
#include "run/RunState.h"

namespace mrl {

// The action planned at plan[at], working on state (and on vm, the user's
// input input_fd or the actions planned after it where it needs them) when
// called; state and vm must outlive it.
std::function<Result()> BindAction(const std::vector<PlannedAction>& plan, std::size_t at,
                                   RunState& state, const boost::program_options::variables_map& vm,
                                   int input_fd);

}  // namespace mrl
