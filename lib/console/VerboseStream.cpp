#include "console/VerboseStream.h"

namespace qmx {

std::ostream& VerboseStream() {
  // Built on first use, so it is ready for any static initialiser that writes to it.
  static std::ostream stream(nullptr);
  return stream;
}

void AttachVerboseStream(std::ostream& target) {
  VerboseStream().rdbuf(target.rdbuf());
}

namespace {
// Constructs the stream before main runs, whichever module comes first.
[[maybe_unused]] const std::ostream& kConstructedAtStart = VerboseStream();
}  // namespace

}  // namespace qmx
