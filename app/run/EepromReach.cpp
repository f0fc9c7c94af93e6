#include "run/EepromReach.h"

#include <algorithm>
#include <vector>

#include <boost/variant/get.hpp>

namespace mrl {

std::uint64_t ImageEnd(std::uint16_t offset, const qmx::File::Img& img) {
  return std::uint64_t{offset} + img.GetRaw().size();
}

std::uint64_t RangeEnd(const RunState& state) {
  return std::uint64_t{state.offset.value()} + state.length.value();
}

std::uint64_t TableEnd(const TBF::Table& table, bool entries_to_flash) {
  std::uint64_t end = table.MaybeGetHexEntry() ? table.MaybeGetHexEntry()->EepromSize() : 0;
  if (entries_to_flash) return end;
  for (const TBF::Entry& entry : table.GetBinaryEntries()) {
    end =
        std::max(end, std::uint64_t{entry.GetAddress().value()} + entry.GetImage().GetRaw().size());
  }
  return end;
}

std::uint64_t HoffEnd(const HOFF::File& file, const std::string& name) {
  std::uint64_t end = 0;
  for (const HOFF::Entry& entry : file.GetEntries()) {
    if (entry.name != name) continue;
    for (const HOFF::Section& section : entry.sections) {
      end = std::max(end, std::uint64_t{section.offset} + section.bytes.size());
    }
  }
  return end;
}

std::uint64_t EepromReach(const RunState& state, const PlannedAction& action) {
  switch (action.id) {
    case ActionId::kDownloadImgImage: {
      const auto* img = boost::get<qmx::File::Img>(&state.firmware);
      const bool eeprom = !action.flags.rfload && !action.flags.flash;
      return img != nullptr && eeprom ? ImageEnd(state.offset.value(), *img) : 0;
    }
    case ActionId::kDownloadTbfTable: {
      const auto* table = boost::get<TBF::Table>(&state.firmware);
      return table != nullptr ? TableEnd(*table, action.flags.flash) : 0;
    }
    case ActionId::kDownloadHoffEntry:
      return action.flags.flash ? 0 : HoffEnd(state.hoff_file, state.hoff_entry);
    case ActionId::kExtractEeprom:
      return action.flags.flash ? 0 : RangeEnd(state);
    case ActionId::kClearEeprom:
      return RangeEnd(state);
    default:
      return 0;
  }
}

}  // namespace mrl
