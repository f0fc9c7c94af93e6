#include <cstdlib>

#include "FuzzReader.h"
#include "file/TCF.h"

// A container that reads is written again; unless the writer refused it (a label or key of the
// older form holding a space), what is written reads back with the same labels and keys.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size, [](std::istream& is) {
    const auto table = TCF::FromStream(is);
    if (table.index() != 0) return;
    std::ostringstream os;
    std::get<0>(table).ToStream(os);
    if (os.fail()) return;
    std::istringstream again(os.str());
    const auto reread = TCF::FromStream(again);
    if (reread.index() != 0) std::abort();
    for (const auto& [label, file] : std::get<0>(table).GetFirmwareEntries()) {
      const auto& entries = std::get<0>(reread).GetFirmwareEntries();
      const auto found = entries.find(label);
      if (found == entries.end() || found->second.firmware.which() != file.firmware.which()) {
        std::abort();
      }
    }
    if (std::get<0>(reread).GetFirmwareEntries().size() !=
            std::get<0>(table).GetFirmwareEntries().size() ||
        std::get<0>(reread).GetMetadata() != std::get<0>(table).GetMetadata()) {
      std::abort();
    }
  });
}
