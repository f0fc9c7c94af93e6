#pragma once
// Operations on memory spaces: 65,536 words of target memory.

#include <cstdint>

#include "ruvo/Tables.h"

namespace Ruvo::detail {

using Space = Buffer<std::uint16_t>;

// A new zero-filled space, or null after writing "newSpc out of memory".
Space newSpc();

// A new copy of space, or null after writing "cloneSpc out of memory".
Space cloneSpc(const std::uint16_t* space);

// dst[i] |= src[i] for every word.
void iorSpc(std::uint16_t* dst, const std::uint16_t* src);

}  // namespace Ruvo::detail
