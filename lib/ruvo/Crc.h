#pragma once
// The bit-serial 16-bit CRC step shared by every format of the image builder,
// and the 16-bit rotation and bit reversal used by its whitening masks.

#include <array>
#include <cstdint>

namespace Ruvo::detail {

// Polynomials of the builder's CRC chains.
constexpr std::uint16_t kXipPoly = 0x1021;     // the container's check word and whitening
constexpr std::uint16_t kStreamPoly = 0x3D65;  // Tl block tail and application streams
constexpr std::uint16_t kDirPoly = 0x8BB7;     // image directory and Tl block body

// One step of a non-reflected 16-bit shift register: the nbits low bits of
// data enter at bit 0, most significant first; a bit leaving bit 15 XORs poly
// into the state. Returns the final state.
constexpr std::uint16_t crc16(std::uint16_t crc, std::uint16_t data, std::uint16_t poly,
                              std::uint8_t nbits) {
  unsigned state = crc;
  for (int i = nbits - 1; i >= 0; --i) {
    // poly where bit 15 was set, 0 where not: a step without a branch.
    const unsigned feedback = poly & (0u - (state >> 15));
    state = (((state << 1) | ((data >> i) & 1u)) & 0xFFFFu) ^ feedback;
  }
  return static_cast<std::uint16_t>(state);
}

// Absorbs one whole 16-bit word, for a polynomial known only when running.
constexpr std::uint16_t absorb(std::uint16_t crc, std::uint16_t word, std::uint16_t poly) {
  return crc16(crc, word, poly, 16);
}

// What 16 × Words steps of crc16 over zero data make of each value of the
// state's high byte and of its low byte. The register is linear, so a whole
// word is absorbed as the entry for the high byte XOR the entry for the low
// byte XOR the word: two lookups that do not wait for each other.
struct WordFeedback {
  std::array<std::uint16_t, 256> high{};
  std::array<std::uint16_t, 256> low{};
};

template <std::uint16_t Poly, int Words>
constexpr WordFeedback wordFeedback() {
  WordFeedback table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    auto high = static_cast<std::uint16_t>(byte << 8);
    auto low = static_cast<std::uint16_t>(byte);
    for (int i = 0; i < Words; ++i) {
      high = crc16(high, 0, Poly, 16);
      low = crc16(low, 0, Poly, 16);
    }
    table.high[byte] = high;
    table.low[byte] = low;
  }
  return table;
}

template <std::uint16_t Poly, int Words>
inline constexpr WordFeedback kWordFeedback = wordFeedback<Poly, Words>();

template <std::uint16_t Poly, int Words>
inline std::uint16_t feedback(std::uint16_t x) {
  const WordFeedback& table = kWordFeedback<Poly, Words>;
  return static_cast<std::uint16_t>(table.high[x >> 8] ^ table.low[x & 0xFFu]);
}

// Absorbs one whole 16-bit word: the same state as crc16 over its 16 bits,
// in one table step instead of sixteen bit steps. The builder's long chains
// (container, streams) use it.
template <std::uint16_t Poly>
inline std::uint16_t absorb(std::uint16_t crc, std::uint16_t word) {
  return static_cast<std::uint16_t>(feedback<Poly, 1>(crc) ^ word);
}

// Absorbs first, then second, as two calls of absorb would, with one table
// step of the state: the first word's feedback does not wait for it.
template <std::uint16_t Poly>
inline std::uint16_t absorbPair(std::uint16_t crc, std::uint16_t first, std::uint16_t second) {
  return static_cast<std::uint16_t>(feedback<Poly, 2>(crc) ^ feedback<Poly, 1>(first) ^ second);
}

// Rotates x left by n bits (n taken modulo 16).
inline std::uint16_t rotl16(std::uint16_t x, unsigned n) {
  n &= 15u;
  if (n == 0) return x;
  return static_cast<std::uint16_t>((x << n) | (x >> (16u - n)));
}

// x with its 16 bits in reverse order: bit 0 becomes bit 15, bit 15 bit 0.
// Swaps neighbouring bits, then pairs, nibbles and bytes.
constexpr std::uint16_t reverseBits16(std::uint16_t x) {
  unsigned v = x;
  v = ((v >> 1) & 0x5555u) | ((v & 0x5555u) << 1);
  v = ((v >> 2) & 0x3333u) | ((v & 0x3333u) << 2);
  v = ((v >> 4) & 0x0F0Fu) | ((v & 0x0F0Fu) << 4);
  v = ((v >> 8) & 0x00FFu) | ((v & 0x00FFu) << 8);
  return static_cast<std::uint16_t>(v);
}

}  // namespace Ruvo::detail
