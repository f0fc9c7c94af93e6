#include "FuzzReader.h"
#include "file/ImgFirmwareFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReader(data, size, [](std::istream& is) {
    const auto img = qmx::File::Img::FromStream(is);
    if (img.index() == 0) static_cast<void>(std::get<0>(img).IsValid(qmx::File::Img::Address{0}));
  });
}
