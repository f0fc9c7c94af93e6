#include "file/XipFirmwareFile.h"

#include "file/InputFile.h"
#include "ruvo/Ruvo.h"

namespace qmx::File {

qmx::Result<Xip, Common::Error> Xip::FromStream(std::istream& is) {
  auto raw = Common::FromStreamRawUnchecked(is);
  if (raw.index() == 1) return std::get<1>(raw);
  return Xip{std::move(std::get<0>(raw))};
}

qmx::Result<Xip, Common::Error> Xip::FromFile(const std::string& path) {
  return ReadInputFile(path, kMaxFileSize, Common::Error::kInvalidFormat, FromStream);
}

qmx::Result<Img, Xip::Error> Xip::ToImg(const HWID::Raw& hwid, int pageSize) const {
  auto converted = Ruvo::XipToImg(hwid, raw_, pageSize);
  if (converted.index() == 1) return Error{std::get<1>(converted)};
  Img img{std::move(std::get<0>(converted))};
  if (const auto valid = img.IsValid(Img::Address{0}); valid.failed()) {
    return Error{std::get<1>(valid)};
  }
  return img;
}

}  // namespace qmx::File
