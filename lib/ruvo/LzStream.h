#pragma once
// The LZ streams of the application spaces: blocks of literal words and back
// references, each token whitened by a mask from a running CRC state seeded
// with Tl_crc and fed with HWID words 2 and 3, closed by a check word. Both
// routines run after the boot monitor analysis of the same conversion.

#include <array>
#include <cstdint>

namespace Ruvo::detail {

constexpr int kStreamBytes = 0x10000;  // room of a stream buffer
// Decoder result: a block address or back reference points outside the
// target space, or the stream ends before its check word.
constexpr int kStreamOutside = 174;

// Encodes the application space into out (kStreamBytes bytes of room) and
// stores the stream's length in words. Leaves the space unchanged. Returns 0,
// or -1 after "cloneSpc out of memory".
int LZencoder(const std::uint16_t* space, std::uint8_t* out, int* length,
              std::array<std::uint16_t, 4> hwid);

// Decodes a stream of length words into target, a copy of the boot monitor
// space whose words below the application area serve as the dictionary.
// Returns 0 when the check word matches; 166 after "checksum error";
// kStreamOutside.
int LZdecoder(std::uint16_t* target, const std::uint8_t* stream, int length,
              std::array<std::uint16_t, 4> hwid);

}  // namespace Ruvo::detail
