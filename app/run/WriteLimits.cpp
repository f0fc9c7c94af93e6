#include "run/WriteLimits.h"

#include <sstream>

namespace mrl {
namespace {

const std::string kFlashHwidSlotText = "the HWID (flash bytes " + std::to_string(kHwidAddress) +
                                       " to " + std::to_string(kHwidAddress + kHwidLength - 1) +
                                       ")";

std::string Hex(std::uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}

// Why the section, written as it stands, would not land where it says or
// would take the place of the HWID the run programs (sethwid); none when it
// would not. The loader takes whole 16-bit words.
std::optional<std::string> SectionFault(const HOFF::Section& section, bool flash, bool sethwid) {
  const std::uint64_t length = section.bytes.size();
  if (length % 2 != 0) {
    return "its " + std::to_string(length) + " bytes are not whole 16-bit words";
  }
  if (flash && length > kMaxDownloadBytes) {
    return "its " + std::to_string(length) + " bytes are more than one flash download carries (" +
           std::to_string(kMaxDownloadBytes) + ")";
  }
  const std::string where = std::to_string(length) + " bytes at offset " + Hex(section.offset);
  if (!flash && !EndsWithinEeprom(section.offset, length)) {
    return where + " pass the end of the EEPROM (" + std::to_string(kEepromBytes) + " bytes)";
  }
  if (sethwid && CoversHwidSlot(section.offset, length)) {
    // A flash entry's HWID goes to the same bytes of the flash.
    const std::string slot = flash ? kFlashHwidSlotText : kHwidSlotText;
    return where + " cover " + slot + " that --sethwid programs in this run";
  }
  return std::nullopt;
}

}  // namespace

bool EndsWithinEeprom(std::uint64_t offset, std::uint64_t length) {
  return offset < kEepromBytes && offset + length <= kEepromBytes;
}

bool CoversHwidSlot(std::uint64_t offset, std::uint64_t length) {
  return length != 0 && offset < kHwidAddress + kHwidLength && kHwidAddress < offset + length;
}

std::optional<std::string> HoffSectionRefusal(const HOFF::File& file, const std::string& name,
                                              bool flash, bool sethwid) {
  for (const HOFF::Entry& entry : file.GetEntries()) {
    if (entry.name != name) continue;
    for (std::size_t i = 0; i < entry.sections.size(); ++i) {
      const HOFF::Section& section = entry.sections[i];
      if (const auto fault = SectionFault(section, flash, sethwid)) {
        return "HOFF section " + std::to_string(i + 1) + " (\"" + section.name +
               "\") cannot be written: " + *fault + ".\n";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> TbfHwidSlotRefusal(const TBF::Table& table) {
  const std::vector<TBF::Entry>& entries = table.GetBinaryEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint16_t address = entries[i].GetAddress().value();
    const std::size_t length = entries[i].GetImage().GetRaw().size();
    if (CoversHwidSlot(address, length)) {
      return "TBF image " + std::to_string(i + 1) + " (" + std::to_string(length) + " bytes at " +
             Hex(address) + ") covers " + kHwidSlotText + " that --sethwid programs in this run.\n";
    }
  }
  return std::nullopt;
}

}  // namespace mrl
