#pragma once
// Little- and big-endian access to 16- and 32-bit values in byte buffers.

#include <cstddef>
#include <cstdint>

namespace Ruvo::detail {

inline std::uint16_t loadLe16(const std::uint8_t* bytes, std::size_t word) {
  return static_cast<std::uint16_t>(bytes[2 * word] | (bytes[2 * word + 1] << 8));
}

inline void storeLe16(std::uint8_t* bytes, std::size_t word, std::uint16_t value) {
  bytes[2 * word] = static_cast<std::uint8_t>(value);
  bytes[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void storeBe16(std::uint8_t* bytes, std::size_t word, std::uint16_t value) {
  bytes[2 * word] = static_cast<std::uint8_t>(value >> 8);
  bytes[2 * word + 1] = static_cast<std::uint8_t>(value);
}

inline std::uint32_t loadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline void storeLe32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint16_t swap16(std::uint16_t x) {
  return static_cast<std::uint16_t>((x << 8) | (x >> 8));
}

}  // namespace Ruvo::detail
