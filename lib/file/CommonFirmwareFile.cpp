#include "file/CommonFirmwareFile.h"

#include <algorithm>
#include <new>

namespace qmx::File {
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

}  // namespace

qmx::Result<Bytes, Common::Error> Common::FromStreamRawUnchecked(std::istream& is) {
  if (!is.good()) return Error{1};
  is.unsetf(std::ios::skipws);
  is.seekg(0, std::ios::end);
  const std::streamoff told = is.tellg();
  if (told < 0) return Error{1};
  is.seekg(0);
  // The length told is not trusted with memory (a folder's stream tells the largest offset
  // there is): the bytes are held as they arrive, presized by what the stream can deliver
  // at once.
  const auto length = static_cast<std::uintmax_t>(told);
  Bytes bytes;
  try {
    const std::streamsize ready = is.rdbuf()->in_avail();
    if (ready > 0) bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(ready, length)));
    while (bytes.size() < length) {
      const std::size_t piece =
          static_cast<std::size_t>(std::min<std::uintmax_t>(kPieceSize, length - bytes.size()));
      const std::size_t at = bytes.size();
      bytes.resize(at + piece);
      is.read(reinterpret_cast<char*>(bytes.data() + at), static_cast<std::streamsize>(piece));
      bytes.resize(at + static_cast<std::size_t>(is.gcount()));
      if (!is) break;
    }
  } catch (const std::bad_alloc&) {
    return Error{1};  // a file larger than the memory can hold
  }
  // A stream that holds less than it told cannot be read as a file.
  if (bytes.size() != length) return Error{1};
  return bytes;
}

}  // namespace qmx::File
