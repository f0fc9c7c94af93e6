#pragma once
#include "error/CommonError.h"
#include "file/HWID.h"
#include "link/Error.h"

namespace mrl {

// A HWID read from a board: the four words (alternative 0) or the failure.
using HwidResult = qmx::Result<HWID::Raw, Error>;

}  // namespace mrl
