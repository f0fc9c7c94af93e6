#include "file/IS2023FirmwareFile.h"

#include "file/InputFile.h"

namespace qmx::File {

IS2023::Check IS2023::IsValidLength(std::uint16_t offset, std::size_t length) {
  if (offset + length > kEepromSize) return Error{SpecificError{1}};
  if (length == 0) return Error{SpecificError{2}};
  return qmx::Error::None{};
}

qmx::Result<IS2023, IS2023::Error> IS2023::FromStream(std::istream& is) {
  if (!is.good()) return Error{Common::Error{1}};
  is.unsetf(std::ios::skipws);
  unsigned char offsetBytes[2];
  if (!is.read(reinterpret_cast<char*>(offsetBytes), 2)) return Error{SpecificError{3}};
  const auto offset = static_cast<std::uint16_t>(offsetBytes[0] | offsetBytes[1] << 8);
  const std::streamoff dataStart = is.tellg();
  is.seekg(0, std::ios::end);
  const std::streamoff end = is.tellg();
  if (dataStart < 0 || end < dataStart) return Error{Common::Error{1}};
  const auto length = static_cast<std::size_t>(end - dataStart);
  if (const Check valid = IsValidLength(offset, length); valid.failed()) return std::get<1>(valid);
  Bytes data(length);
  is.seekg(dataStart);
  is.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(length));
  if (static_cast<std::size_t>(is.gcount()) != length) return Error{Common::Error{1}};
  return IS2023{offset, std::move(data)};
}

qmx::Result<IS2023, IS2023::Error> IS2023::FromFile(const std::string& path) {
  return ReadInputFile(path, kMaxFileSize, Error{SpecificError{1}}, FromStream);
}

void IS2023::ToStream(std::ostream& os) const {
  const char offsetBytes[2] = {static_cast<char>(offset_ & 0xFF), static_cast<char>(offset_ >> 8)};
  os.write(offsetBytes, 2);
  os.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
}

}  // namespace qmx::File
