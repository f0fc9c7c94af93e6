#pragma once
// The actions that move firmware from the input file to the board: the file
// loads, the xip conversion and RF padding, the downloads of each kind, and
// the EEPROM actions (erase, size test, extract, clear). By the time one runs,
// the port is open, the HWIDs are known and the loader image runs on the board
// where the action needs it. Main thread only.
//
// Progress and headlines go to the console's out. An action that finds the
// firmware of another kind than the one it works on fails with
// kInvalidArgument and sends nothing; file errors come back in TCF::Error and
// protocol errors unchanged.

#include <vector>

#include "link/Error.h"
#include "run/PlannedAction.h"
#include "run/RunState.h"

namespace mrl {

// Read input_file with the format's reader into firmware; the reader's error
// comes back in TCF::Error and leaves firmware unchanged.
Result LoadHexFile(RunState& state);
Result LoadXipFile(RunState& state);
Result LoadImgFile(RunState& state);
Result LoadTbfFile(RunState& state);
Result LoadIs2023File(RunState& state);

// Fails with the img image's own error when it cannot be written at `offset`
// (an image that would end beyond 65536 bytes); an offset of 0 passes.
Result CheckImgOffset(RunState& state);
// Replaces the xip image by its img image, bound to new_hwid (sethwid, taken
// off the HWID text file first when there is one) or board_hwid, with pages
// of 4096 bytes (flash) or 64. A failed conversion keeps the xip image. Notes
// whether the image carries new_hwid.
Result ConvertXipToImg(RunState& state, bool sethwid, bool flash);
// Pads the img image with zeros to a multiple of 8192 bytes; an image that
// would pass 65536 bytes is left alone and refused with Invalid file format.
Result PadImageForRf(RunState& state);
// The loader's erase of the flash image area.
Result EraseFlashImage(RunState& state);
// Resets the board (not behind the passthrough) and sends the hex program to
// the boot monitor, waiting for the EEPROM unless ram_only; then discards
// what the port holds.
Result DownloadHexImage(RunState& state, bool ram_only, bool belto_ls_gx2);
// Sends the img image at `offset` (checked there as CheckImgOffset does)
// through the loader, after the EEPROM size test when it ends beyond 32768
// bytes in the EEPROM (with flash it goes to the flash, which has no such
// test); with rfload through the RF loader instead, which has no offset. An
// image that carries new_hwid marks it sent (HwidGoesOutWith).
Result DownloadImgImage(RunState& state, bool rfload, bool flash);
// Sends the IS2023 firmware at its own offset in packets of 80 bytes.
Result DownloadIs2023Image(RunState& state);
// Fails with kInvalidArgument, saying why, when firmware is a TBF table with
// an image that covers the HWID; the HWID entry that AddHwidToTbf adds would
// then not be what the board ends up holding. Any other firmware passes.
Result GuardHwidSlot(RunState& state);
// Makes firmware a TBF table (an empty one unless it is one) and adds the
// 8 bytes of new_hwid at EEPROM address 110, taken off the HWID text file
// first when there is one.
Result AddHwidToTbf(RunState& state);
// Sends the table's images in order through the loader ("Loading image i of
// n"), to the flash with flash, then its hex program after a board reset;
// the size test first when what goes to the EEPROM ends beyond 32768 bytes.
// An empty table only says so. An image that reaches the HWID marks it sent
// (HwidGoesOutWith).
Result DownloadTbfTable(RunState& state, bool belto_ls_gx2, bool flash);
// For each hoff_file entry named hoff_entry: appends a "hwid" section (the
// 8 bytes of new_hwid with sethwid, taken off the HWID text file first when
// there is one, else board_hwid, at 110) and sends every
// section ("Loading HOFF section (i/n)"), to flash at its 32-bit offset or to
// EEPROM at the low 16 bits of it, after the EEPROM size test when an EEPROM
// section ends beyond 32768 bytes; the "hwid" section marks the HWID sent
// (HwidGoesOutWith). The entry's sections must have passed
// HoffSectionRefusal for the target.
Result DownloadHoffEntry(RunState& state, bool flash, bool sethwid);
// "EEPROM is 512kbit." and success, or "EEPROM is 256kbit." and
// kEepromTooSmall; any other failure says nothing.
Result TestEepromSize(RunState& state);
// The run's EEPROM size test, silent, before its first write: made when any
// of the later actions, run on state as it stands, would write or read beyond
// 32768 bytes of the EEPROM; a small EEPROM fails with kEepromTooSmall. Once
// it found the 512-kbit EEPROM, their own tests do not ask again.
Result TestEepromReach(RunState& state, const std::vector<PlannedAction>& later);
// Makes ready where the extract's bytes go, so that a target that cannot be
// written (or created) fails with Cannot open file before the board is asked
// anything: a descriptor the run was given (extract_descriptor) must be open
// for writing; a device or a FIFO is opened (waiting for a FIFO's reader) into
// extract_descriptor; a regular file, or a new one, must be one this user may
// write, and its replacement is begun (extract_replacement). Once it has
// succeeded, a second call does nothing.
Result PrepareExtractTarget(RunState& state);
// Reads `length` bytes from `offset` into extract_file, made ready first by
// PrepareExtractTarget when it was not: EEPROM bytes, after the EEPROM size
// test when they end beyond 32768 bytes (unless the run made it), or with
// flash those of the flash, which has no such test. Says "Done image
// extraction!" once they are where they were to go. A descriptor is written
// as it stands, at its own position, after the program's earlier standard
// output. A regular file, or a new one, is replaced whole only once every byte
// was read and checked, so a failed read leaves an existing file as it was and
// creates none. A write that fails is Cannot write file; on a descriptor a
// line first says why.
Result ExtractEeprom(RunState& state, bool flash);
// Writes `length` bytes of 0xFF at `offset`, after the EEPROM size test when
// they end beyond 32768 bytes (unless the run made it).
Result ClearEeprom(RunState& state);

}  // namespace mrl
