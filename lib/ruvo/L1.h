#pragma once
// The L1 transform of the Tl block: an in-place, address-keyed chain over the
// words between the block's first bra instruction and its last word.

#include <cstdint>

namespace Ruvo::detail {

constexpr std::uint16_t kInpInstruction = 0x3A01;
// The block does not fit in the space: start is 0 (the chain reads the word
// below it) or its last word start + size lies beyond 0xFFFF.
constexpr int kBlockOutsideSpace = 173;

// Encodes the block of size + 1 words at start in place. Returns 0; 167 with
// "L1encoder missing inp instruction" (also for size 0); 168 with "L1encoder
// missing bra instruction"; kBlockOutsideSpace.
int L1encoder(std::uint16_t* space, int start, int size);

// Decodes an encoded block in place and sets Tl_crc. Returns 0; 169 or 170
// with the decoder's messages; kBlockOutsideSpace.
int L1decoder(std::uint16_t* space, int start, int size);

}  // namespace Ruvo::detail
