// Converts arbitrary bytes into an img image. Input that starts with "XIP "
// is converted as it is; any other input is read as a page-size byte, the
// four HWID words and the plain content of a container (slot count, slot
// words, data), which is sealed first so that the conversion gets past the
// container's CRC and reaches the analysis and the encoders.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ruvo/ByteOrder.h"
#include "ruvo/Ruvo.h"
#include "ruvo/XipContainer.h"

namespace {

constexpr std::size_t kHeaderBytes = 9;
constexpr std::size_t kMaxInput = 1 << 20;

std::vector<std::uint8_t> sealed(const std::uint8_t* content, std::size_t bytes) {
  const std::size_t words = bytes / 2;
  std::vector<std::uint8_t> container(2 * (words + 5), 0);
  std::memcpy(container.data() + 8, content, 2 * words);
  Ruvo::detail::sealXIP(container.data(), static_cast<std::uint32_t>(words + 5));
  return container;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  if (size >= 4 && std::memcmp(data, "XIP ", 4) == 0) {
    static_cast<void>(
        Ruvo::XipToImg({1, 2, 3, 4}, std::vector<std::uint8_t>(data, data + size), 64));
    return 0;
  }
  if (size < kHeaderBytes) return 0;
  const int pageSize = (data[0] & 1) != 0 ? 4096 : 64;
  std::array<std::uint16_t, 4> hwid{};
  for (int i = 0; i < 4; ++i) hwid[i] = Ruvo::detail::loadLe16(data + 1, i);
  static_cast<void>(
      Ruvo::XipToImg(hwid, sealed(data + kHeaderBytes, size - kHeaderBytes), pageSize));
  return 0;
}
