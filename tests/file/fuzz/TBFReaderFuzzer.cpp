#include <cstdlib>

#include "FuzzReader.h"
#include "file/TBF.h"

namespace {

std::string Written(const TBF::Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

}  // namespace

// A table that reads is written again, and what is written reads back to the same table.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size, [](std::istream& is) {
    const auto table = TBF::FromStream(is);
    if (table.index() != 0) return;
    const std::string text = Written(std::get<0>(table));
    std::istringstream again(text);
    const auto reread = TBF::FromStream(again);
    if (reread.index() != 0 || Written(std::get<0>(reread)) != text) std::abort();
  });
}
