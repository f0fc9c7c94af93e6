#include "FuzzReader.h"
#include "file/IS2023FirmwareFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size,
                    [](std::istream& is) { static_cast<void>(qmx::File::IS2023::FromStream(is)); });
}
