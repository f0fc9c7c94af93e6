#pragma once
// The XIP container: magic "XIP ", its length N in words, the slot count, one
// slot word per slot, the slots' data and a CRC word, all little-endian, with
// the words between the size field and the CRC word whitened.

#include <cstdint>

#include "error/CommonError.h"
#include "ruvo/RuvoError.h"

namespace Ruvo::detail {

constexpr std::uint16_t kSpaceSlotWord = 0xC000;
constexpr int kMaxRawWords = 0x7FFF;  // largest raw slot a slot word can describe

// Reader results besides 0 and 201 to 205: the slot words or the slot data
// would run past the words before the CRC word.
constexpr int kXipSlotsOutside = 206;

// Reads a container of length bytes into the file table that buildTables
// prepared; removes the whitening in place. Returns 0; 201 shorter than 10
// bytes; 202 wrong magic; 203 size field disagrees with length; 204 CRC error;
// 205 invalid slot word; 206 slots outside the container; -1 out of memory.
int getXIP(std::uint8_t* data, int length);

// Completes a container of N words (N >= 5) whose words 4 to N - 2 hold the
// plain slot count, slot words and data: writes the magic, the size, the CRC
// word and whitens words N - 2 down to 4.
void sealXIP(std::uint8_t* bytes, std::uint32_t N);

// Writes the file table as a container to path. Errors: 201 when the file
// cannot be opened; 153 for a raw entry of 0x8000 words or more; 1 when the
// container does not fit the pool behind the stored names or cannot be
// written completely.
qmx::Error::Result<qmx::Error::None, Error> putXIP(const char* path);

}  // namespace Ruvo::detail
