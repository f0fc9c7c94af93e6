// Temporary stand-ins until the actions land.
#include "Terminal.h"
namespace mrl {
Result RunTerminal(RunState&, int) {
  return SpecificError::kInvalidArgument;
}
Result RunStampedTerminal(RunState&, int) {
  return SpecificError::kInvalidArgument;
}
}  // namespace mrl
