#pragma once
// How far into the EEPROM each action of a run writes or reads through the
// loader image, so that the EEPROM size test can come before the run's first
// write, whichever of its actions needs the 512-kbit EEPROM.

#include <cstdint>
#include <string>

#include "file/HOFF.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "run/PlannedAction.h"
#include "run/RunState.h"

namespace mrl {

// Where img ends when it is written at offset.
std::uint64_t ImageEnd(std::uint16_t offset, const qmx::File::Img& img);
// Where the range of `offset` and `length` (an extract, a clear) ends.
std::uint64_t RangeEnd(const RunState& state);
// Where the table's contents end in the EEPROM: the furthest end of its
// binary entries, unless they go to the flash, and of the EEPROM area of its
// hex program, which the boot monitor writes.
std::uint64_t TableEnd(const TBF::Table& table, bool entries_to_flash = false);
// Where the sections of the entries named `name` end.
std::uint64_t HoffEnd(const HOFF::File& file, const std::string& name);

// Where the planned action, run on state as it stands, ends in the EEPROM; 0
// for one that reaches no EEPROM byte through the loader image (an RF
// download, a download to the flash, an extract from it, a hex program, ...)
// or whose firmware is not of the kind it works on.
std::uint64_t EepromReach(const RunState& state, const PlannedAction& action);

}  // namespace mrl
