#include "file/CommonFirmwareFile.h"

#include <new>

namespace qmx::File {

qmx::Result<Bytes, Common::Error> Common::FromStreamRawUnchecked(std::istream& is) {
  if (!is.good()) return Error{1};
  is.unsetf(std::ios::skipws);
  is.seekg(0, std::ios::end);
  const std::streamoff length = is.tellg();
  if (length < 0) return Error{1};
  Bytes bytes;
  try {
    bytes.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return Error{1};  // a file larger than the memory can hold
  }
  is.seekg(0);
  is.read(reinterpret_cast<char*>(bytes.data()), length);
  return bytes;
}

}  // namespace qmx::File
