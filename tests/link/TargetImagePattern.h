#pragma once
#include <cstdint>

namespace mrl_test {

// Byte i of target image file number file (in the folder's order), distinct
// from file to file and from one 256-byte block to the next.
inline std::uint8_t TargetImagePatternByte(unsigned file, unsigned i) {
  return static_cast<std::uint8_t>(i * 7 + i / 256 + file * 50 + 1);
}

}  // namespace mrl_test
