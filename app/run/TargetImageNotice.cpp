#include "run/TargetImageNotice.h"

#include "link/XipImageLoader.h"

namespace mrl {

void WarnIfStandInImages(RunState& state) {
  if (kTargetImagesSupplied || state.stand_in_images_warned) return;
  state.stand_in_images_warned = true;
  state.console.err << "Warning: this build carries no target images (zero-filled stand-ins); "
                       "configure with -DMRL_TARGET_IMAGES_DIR=<folder> to drive a real board.\n";
}

}  // namespace mrl
