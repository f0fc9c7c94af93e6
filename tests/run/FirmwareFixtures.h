#pragma once
// Small helpers of the firmware actions' tests: recognisable bytes, a board
// that starts in a given program, and a look inside an action's error.

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "link/Error.h"
#include "support/SimulatedBoard.h"

namespace mrl_test {

using Bytes = std::vector<std::uint8_t>;

// len bytes that differ from their neighbours and, by seed, from other patterns.
inline Bytes Pattern(std::size_t len, unsigned seed = 0) {
  Bytes bytes(len);
  for (std::size_t i = 0; i < len; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed + 1);
  return bytes;
}

inline BoardConfig Running(Program program) {
  BoardConfig config;
  config.initial_program = program;
  return config;
}

// The error's place in TCF::Error; -1 when it is no file error or no error.
inline int TcfAlternative(const mrl::Result& result) {
  if (!result.failed()) return -1;
  const auto* file = std::get_if<TCF::Error>(&std::get<1>(result.alternatives()).alternatives());
  return file == nullptr ? -1 : static_cast<int>(file->index());
}

// Whether the result failed with exactly this application error.
inline bool FailedWith(const mrl::Result& result, const mrl::SpecificError& expected) {
  return result.failed() && mrl::IsSpecific(std::get<1>(result), expected);
}

}  // namespace mrl_test
