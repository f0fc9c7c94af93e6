// Feeds arbitrary bytes to the container reader.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ruvo/Tables.h"
#include "ruvo/XipContainer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  Ruvo::detail::TablesScope tables;
  if (tables.failed()) return 0;
  std::vector<std::uint8_t> copy(data, data + size);
  Ruvo::detail::getXIP(copy.data(), static_cast<int>(copy.size()));
  return 0;
}
