#pragma once
// Where the board's memories can take a write, and where a write would meet
// the HWID: the limits that the command line, the HOFF entry and the TBF table
// are held to before the board is touched.

#include <cstdint>
#include <optional>
#include <string>

#include "file/HOFF.h"
#include "file/TBF.h"

namespace mrl {

// Bytes of the largest EEPROM; no write or read ends beyond it.
inline constexpr std::uint64_t kEepromBytes = 0x10000;
// Bytes of a 256-kbit EEPROM; a write or read that ends beyond it needs the
// EEPROM size test first.
inline constexpr std::uint64_t kSmallEepromBytes = 0x8000;
// The most bytes one download through the loader carries: its length counts
// 16-bit words in 16 bits.
inline constexpr std::uint64_t kMaxDownloadBytes = 2 * 0xFFFF;
// EEPROM bytes of the board's HWID.
inline constexpr std::uint16_t kHwidAddress = 110;
inline constexpr std::uint16_t kHwidLength = 8;
// The HWID's place, as messages name it.
inline const std::string kHwidSlotText = "the HWID (EEPROM bytes " + std::to_string(kHwidAddress) +
                                         " to " + std::to_string(kHwidAddress + kHwidLength - 1) +
                                         ")";

// Whether length bytes from offset end within the largest EEPROM.
bool EndsWithinEeprom(std::uint64_t offset, std::uint64_t length);
// Whether length bytes from offset share a byte with the HWID.
bool CoversHwidSlot(std::uint64_t offset, std::uint64_t length);

// Why a section of the entries named `name` cannot be written as it stands to
// the flash (flash) or the EEPROM, naming the first such section, as one line;
// none when every section can. With sethwid a section must leave the HWID's
// bytes (110 to 117 of the memory the entry goes to) to the HWID the run
// programs there.
std::optional<std::string> HoffSectionRefusal(const HOFF::File& file, const std::string& name,
                                              bool flash, bool sethwid);
// Why the table cannot take the HWID a run programs, naming the first image
// that covers it, as one line; none when no image does.
std::optional<std::string> TbfHwidSlotRefusal(const TBF::Table& table);

}  // namespace mrl
