#pragma once
// The process's standard descriptors, made safe before anything else opens a
// file.

namespace mrl {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no port or file opened later takes the number of a standard stream and
// receives what is meant for the console. False when one of them is closed
// and /dev/null cannot be put in its place. Call once at the start of main,
// before any other descriptor is opened and before other threads run.
[[nodiscard]] bool OpenClosedStandardDescriptors();

}  // namespace mrl
