#pragma once
// The MR record: the boot monitor space as a header with the notices and the
// HWID, followed by its non-zero runs, with the checksum written into it.

#include <array>
#include <cstdint>

namespace Ruvo::detail {

// Room for the longest record (a header of at most 265 words and runs of one
// word between single zero words: well below this).
constexpr int kRecordWords = 0x10000;

// Encodes the analysed boot monitor space into record (big-endian words, at
// least kRecordWords words of room) and stores its length in words. Leaves the
// space unchanged. Returns 0; 163 word 0xC000 is not 0x0100; 164 word 0xC001
// is not 0x4012; 165 a notice word is 0; -1 out of memory.
int MRencoder(const std::uint16_t* space, std::uint8_t* record, int* length,
              std::array<std::uint16_t, 4> hwid);

}  // namespace Ruvo::detail
