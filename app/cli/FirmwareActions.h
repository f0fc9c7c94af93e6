#pragma once
// The actions that move firmware from the input file to the board: the file
// loads, the xip conversion and RF padding, the downloads of each kind, and
// the EEPROM actions (erase, size test, extract, clear). By the time one runs,
// the port is open, the HWIDs are known and the loader image runs on the board
// where the action needs it. Main thread only.

#include "RunState.h"
#include "link/Error.h"

namespace mrl {

// Read input_file with the format's reader into firmware; the reader's error
// comes back in TCF::Error.
Result LoadHexFile(RunState& state);
Result LoadXipFile(RunState& state);
Result LoadImgFile(RunState& state);
Result LoadTbfFile(RunState& state);
Result LoadIs2023File(RunState& state);

// Replaces the xip image by its img image, bound to new_hwid (sethwid) or
// board_hwid, with pages of 4096 bytes (flash) or 64.
Result ConvertXipToImg(RunState& state, bool sethwid, bool flash);
// Pads the img image with zeros to a multiple of 8192 bytes, at most 65536.
Result PadImageForRf(RunState& state);
Result EraseFlashImage(RunState& state);
Result DownloadHexImage(RunState& state, bool ram_only, bool belto_ls_gx2);
Result DownloadImgImage(RunState& state, bool rfload);
Result DownloadIs2023Image(RunState& state);
// Makes firmware a TBF table (an empty one unless it is one) and adds the
// 8 bytes of new_hwid at EEPROM address 110.
Result AddHwidToTbf(RunState& state);
Result DownloadTbfTable(RunState& state, bool belto_ls_gx2);
Result DownloadHoffEntry(RunState& state, bool flash, bool sethwid);
Result TestEepromSize(RunState& state);
Result ExtractEeprom(RunState& state);
Result ClearEeprom(RunState& state);

}  // namespace mrl
