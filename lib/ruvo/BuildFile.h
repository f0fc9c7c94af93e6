#pragma once
// The steps of the build-file flow, which makes an XIP container from one
// file per slot.

#include <string>
#include <vector>

#include "error/CommonError.h"
#include "ruvo/RuvoError.h"

namespace Ruvo::detail {

constexpr int kMaxBuildFiles = 256;
constexpr int kMaxSourceBytes = 0x20000;

// Stores the names in g.pool and points entries 0, 1, ... at them. Errors:
// 149 more than 256 names; 1 when the names do not fit the pool.
qmx::Error::Result<qmx::Error::None, Error> getBuildSpec(std::vector<std::string> names);

// Loads the file of every named entry: a name ending in ".hex" (longer than
// four characters) as a space, any other as raw data. Errors: 152 a file
// cannot be opened or read; 153 a file longer than 131,072 bytes, or a raw file of
// 0x8000 words or more, which a slot word cannot describe; 1 out of memory.
qmx::Error::Result<qmx::Error::None, Error> loadFiles();

}  // namespace Ruvo::detail
