#pragma once
#include "run/RunState.h"

namespace mrl {

// Called before a target image goes to the board: in a build that embeds
// zero-filled stand-ins instead of the real images, says so once per run on
// the console's error stream, with how to configure the images.
void WarnIfStandInImages(RunState& state);

}  // namespace mrl
