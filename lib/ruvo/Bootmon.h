#pragma once
// Analysis of the boot monitor space of slot 0: cuts out and L1-encodes the Tl
// block, seeds the stream CRC (Tl_crc) and reads the header's addresses.

#include <cstdint>

namespace Ruvo::detail {

constexpr int kShortDataArea = 0xFF80;
constexpr int kFirstHeaderAddress = 0xC003;

// Results besides those of the header checks: the common area, or the
// address of the image directory's announcement, leaves no room for its four
// words below 0x10000.
constexpr int kCommonAreaOutside = 171;
constexpr int kAnnouncementOutside = 172;

// Analyses slot 0's space, moving the Tl block to aux of file table entry 0.
// Returns 0; 156 no space; 157 no Tl block of 201 to 257 words; 158 to 162
// header checks; 167 to 170 from the L1 transform; kBlockOutsideSpace when the
// block does not fit at aux; 171, 172 as above; -1 out of memory.
int bootmonParser(std::uint16_t* space);

}  // namespace Ruvo::detail
