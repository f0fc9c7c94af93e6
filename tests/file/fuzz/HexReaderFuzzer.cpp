#include "FuzzReader.h"
#include "file/HexFirmwareFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size, [](std::istream& is) {
    const auto hex = qmx::File::Hex::FromStream(is);
    if (hex.index() == 0) std::get<0>(hex).EepromSize();
  });
}
