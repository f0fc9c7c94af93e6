#include "FuzzReader.h"
#include "file/TCF.h"

// A container that reads is also written again.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size, [](std::istream& is) {
    const auto table = TCF::FromStream(is);
    std::ostringstream os;
    if (table.index() == 0) std::get<0>(table).ToStream(os);
  });
}
