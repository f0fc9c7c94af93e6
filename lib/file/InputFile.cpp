#include "file/InputFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <streambuf>
#include <vector>

#include "file/RegularFile.h"

namespace qmx::File {
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

// Reads a descriptor in pieces of kPieceSize as the stream asks for them. A
// failed read ends the stream and is kept; taken() counts every byte read.
class PieceBuffer final : public std::streambuf {
 public:
  explicit PieceBuffer(int fd) : fd_(fd), piece_(kPieceSize) {}

  std::size_t taken() const { return taken_; }
  bool failed() const { return failed_; }

  // Reads on, keeping nothing, until the end or until more than limit bytes
  // were taken in all.
  void SkipBeyond(std::size_t limit) {
    while (taken_ <= limit && !traits_type::eq_int_type(underflow(), traits_type::eof())) {
      setg(egptr(), egptr(), egptr());
    }
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    while (!failed_) {
      const ssize_t got = ::read(fd_, piece_.data(), piece_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failed_ = true;
      if (got <= 0) break;
      taken_ += static_cast<std::size_t>(got);
      setg(piece_.data(), piece_.data(), piece_.data() + got);
      return traits_type::to_int_type(*gptr());
    }
    return traits_type::eof();
  }

 private:
  int fd_;
  std::vector<char> piece_;
  std::size_t taken_ = 0;
  bool failed_ = false;
};

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

InputStatus StreamRegularFile(const std::string& path, std::size_t maxSize,
                              const std::function<void(std::istream&)>& read) {
  const RegularFile file = RegularFile::OpenForReading(path);
  if (!file.is_open()) return InputStatus::kCannotOpen;
  const auto told = file.status().st_size;
  if (told > 0 && static_cast<std::uintmax_t>(told) > maxSize) return InputStatus::kTooLarge;
  PieceBuffer buffer(file.fd());
  std::istream stream(&buffer);
  read(stream);
  // The size told is no more than a hint (files of the process table tell 0).
  buffer.SkipBeyond(maxSize);
  if (buffer.failed()) return InputStatus::kCannotOpen;
  if (buffer.taken() > maxSize) return InputStatus::kTooLarge;
  return InputStatus::kRead;
}

}  // namespace qmx::File
