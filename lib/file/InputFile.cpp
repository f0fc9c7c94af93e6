#include "file/InputFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "file/RegularFile.h"

namespace qmx::File {
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

}  // namespace

InputFileContents ReadRegularFile(const std::string& path, std::size_t maxSize) {
  using Status = InputFileContents::Status;
  const RegularFile file = RegularFile::OpenForReading(path);
  if (!file.is_open()) return {Status::kCannotOpen, {}};
  // One byte beyond maxSize tells a file too large.
  const std::size_t limit = maxSize + 1;
  Bytes bytes;
  const auto told = file.status().st_size;
  if (told > 0) bytes.reserve(std::min(static_cast<std::size_t>(told), limit));
  std::size_t length = 0;
  while (length < limit) {
    const std::size_t piece = std::min(kPieceSize, limit - length);
    if (bytes.size() < length + piece) bytes.resize(length + piece);
    const ssize_t got = ::read(file.fd(), bytes.data() + length, piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {Status::kCannotOpen, {}};
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
  }
  if (length > maxSize) return {Status::kTooLarge, {}};
  bytes.resize(length);
  return {Status::kRead, std::move(bytes)};
}

}  // namespace qmx::File
