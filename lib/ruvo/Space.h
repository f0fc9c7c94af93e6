#pragma once
// Operations on memory spaces: 65,536 words of target memory.

#include <cstdint>

#include "ruvo/Tables.h"

namespace Ruvo::detail {

using Space = Buffer<std::uint16_t>;

// A new zero-filled space, or null after writing "newSpc out of memory".
Space newSpc();

// A new space with the words first to end - 1 of space and zeros elsewhere,
// or null after writing "cloneSpc out of memory". A working copy needs only
// the words that its routine reads and has not written itself; copying no
// more leaves the other pages of the copy untouched.
Space cloneSpc(const std::uint16_t* space, int first, int end);

}  // namespace Ruvo::detail
