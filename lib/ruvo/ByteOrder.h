#pragma once
// Little- and big-endian access to 16- and 32-bit values in byte buffers.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Ruvo::detail {

// On a little-endian host the 16-bit accesses are whole words and copies are
// block copies: a sanitizer then checks one access per word, or per block,
// rather than one per byte.
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline std::uint16_t loadLe16(const std::uint8_t* bytes, std::size_t word) {
  if constexpr (kLittleEndianHost) {
    std::uint16_t value;
    std::memcpy(&value, bytes + 2 * word, sizeof value);
    return value;
  } else {
    return static_cast<std::uint16_t>(bytes[2 * word] | (bytes[2 * word + 1] << 8));
  }
}

inline void storeLe16(std::uint8_t* bytes, std::size_t word, std::uint16_t value) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(bytes + 2 * word, &value, sizeof value);
  } else {
    bytes[2 * word] = static_cast<std::uint8_t>(value);
    bytes[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

// Copies count little-endian words from word first of bytes into words.
inline void loadLe16s(std::uint16_t* words, const std::uint8_t* bytes, std::size_t first,
                      std::size_t count) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(words, bytes + 2 * first, 2 * count);
  } else {
    for (std::size_t i = 0; i < count; ++i) words[i] = loadLe16(bytes, first + i);
  }
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
