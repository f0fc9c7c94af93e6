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

// A new space with the words 0xC000 to 0xFFFF of space and zeros below, or
// null after writing "cloneSpc out of memory": the working copy of a routine
// that reads no word below 0xC000 but those it writes itself, so that the
// lower three quarters are neither read nor written by the copying.
Space cloneUpperSpc(const std::uint16_t* space);

}  // namespace Ruvo::detail
