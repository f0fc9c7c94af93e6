#pragma once
// Placing a target program (loader image, RF loader, passthrough image) in the
// board's RAM through the boot monitor, the first step of every action that
// talks to such a program.

#include <cstdint>
#include <vector>

#include "link/Error.h"
#include "link/HexProtocol.h"
#include "run/RunState.h"

namespace mrl {

// The boot monitor's protocol over the run's port, at the `protocol` speed and
// with `reset_timeout` for its START; borrows state's port protocol.
HexProtocol BootMonitorOf(RunState& state);

// Resets the board through the port first when reset_board, warns once when
// this build carries stand-ins instead of target images, then downloads image
// whole to RAM through hex ("Download succeeded!" on the verbose stream). The
// download's error (port error, checksum 2, loader 5), if any.
Result DownloadToRam(RunState& state, HexProtocol& hex, const std::vector<std::uint8_t>& image,
                     bool reset_board);

}  // namespace mrl
