#pragma once
// The match search of the LZ stream encoder.

#include <cstdint>

namespace Ruvo::detail {

constexpr int kMaxDistance = 4095;
constexpr int kMaxMatch = 8;
constexpr int kFirstSource = 0xC003;     // lowest word a back reference may copy from
constexpr int kLastMatchStart = 0xFFF7;  // positions above have no match code
constexpr int kMatchScratchWords = 0x8000;

// Stores in codes[p - 0xC000] the match code of every position p from 0xC000
// to 0xFFFF of the working copy: 0, or (distance << 3) | (length - 1) of the
// longest, then nearest, run of up to 8 equal words at most 4,095 words back
// and not below 0xC003, whose source lies entirely below commonArea or starts
// at or above shortData. Gives exactly the codes of a plain backward scan
// over every distance while trying far fewer candidates. scratch holds
// kMatchScratchWords words.
void matchCodes(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* codes,
                std::uint16_t* scratch);

}  // namespace Ruvo::detail
