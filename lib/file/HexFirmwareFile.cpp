#include "file/HexFirmwareFile.h"

#include "file/InputFile.h"

namespace qmx::File {

Hex::Check Hex::IsValidLength(std::size_t length) {
  if (length > kMaxLength) return Error{SpecificError{1}};
  if (length == 0) return Error{SpecificError{2}};
  if (length % 2 != 0) return Error{SpecificError{3}};
  return qmx::Error::None{};
}

qmx::Result<Hex, Hex::Error> Hex::FromStream(std::istream& is) {
  if (!is.good()) return Error{Common::Error{1}};
  is.unsetf(std::ios::skipws);
  using Traits = std::istream::traits_type;
  Traits::int_type c;
  while ((c = is.get()) == 0) {
  }
  if (Traits::eq_int_type(c, Traits::eof())) return Error{SpecificError{2}};
  const std::streamoff firstNonZero = static_cast<std::streamoff>(is.tellg()) - 1;
  const std::streamoff start = firstNonZero & ~std::streamoff{1};
  is.seekg(0, std::ios::end);
  const std::streamoff end = is.tellg();
  if (firstNonZero < 0 || end < start) return Error{Common::Error{1}};
  const auto length = static_cast<std::size_t>(end - start);
  if (const Check valid = IsValidLength(length); valid.failed()) return std::get<1>(valid);
  Bytes raw(length);
  is.seekg(start);
  is.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(length));
  if (static_cast<std::size_t>(is.gcount()) != length) return Error{Common::Error{1}};
  return Hex{std::move(raw)};
}

qmx::Result<Hex, Hex::Error> Hex::FromFile(const std::string& path) {
  return ReadInputFile(path, kMaxFileSize, Error{SpecificError{1}}, FromStream);
}

std::size_t Hex::EepromSize() const {
  std::size_t count = 3;
  bool inRun = false;
  for (std::size_t i = 0; i + 1 < raw_.size(); i += 2) {
    const bool nonZero = raw_[i] != 0 || raw_[i + 1] != 0;
    if (!inRun) {
      if (nonZero) {
        count += 2;
        inRun = true;
      }
    } else {
      count += 1;
      if (!nonZero) inRun = false;
    }
  }
  return 2 * count + (inRun ? 2 : 0);
}

}  // namespace qmx::File
