#include "file/ImgFirmwareFile.h"

#include "file/InputFile.h"

namespace qmx::File {
namespace {

bool IsValidLength(std::size_t length) {
  return length <= Img::kMaxLength && length % 2 == 0;
}

}  // namespace

qmx::Result<Img, Img::Error> Img::FromStream(std::istream& is) {
  // A stream too long for any image is refused without being read into memory; the raw read
  // below seeks again and reports a stream that cannot seek.
  if (is.good() && is.seekg(0, std::ios::end) &&
      static_cast<std::streamoff>(is.tellg()) > static_cast<std::streamoff>(kMaxLength)) {
    return Error{SpecificError{2}};
  }
  auto raw = Common::FromStreamRawUnchecked(is);
  if (raw.index() == 1) return Error{std::get<1>(raw)};
  Bytes& bytes = std::get<0>(raw);
  if (!IsValidLength(bytes.size())) return Error{SpecificError{2}};
  return Img{std::move(bytes)};
}

qmx::Result<Img, Img::Error> Img::FromFile(const std::string& path) {
  return ReadInputFile(path, kMaxFileSize, Error{SpecificError{2}}, FromStream);
}

Img::Check Img::IsValid(Address address) const {
  if (address.value() % 2 != 0) return Error{SpecificError{1}};
  if (!IsValidLength(raw_.size())) return Error{SpecificError{2}};
  if (address.value() + raw_.size() > kMaxLength) return Error{SpecificError{1}};
  return qmx::Error::None{};
}

}  // namespace qmx::File
