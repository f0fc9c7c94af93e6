#pragma once
// How a number of a HOFF file becomes one of its unsigned fields.

#include <limits>

namespace HOFF::detail {

// Whether a floating JSON number converts to Unsigned, truncated toward zero,
// without undefined behaviour. Integers always convert: they wrap, as the JSON
// library's cast does.
template <typename Unsigned>
bool FloatFits(double value) {
  return value > -1.0 && value < static_cast<double>(std::numeric_limits<Unsigned>::max()) + 1.0;
}

}  // namespace HOFF::detail
