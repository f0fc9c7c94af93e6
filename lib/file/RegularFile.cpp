#include "file/RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qmx::File {

RegularFile RegularFile::OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  struct stat status {};
  int failure = 0;
  if (::fstat(fd, &status) != 0) {
    failure = errno;
  } else if (!S_ISREG(status.st_mode)) {
    failure = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
  } else {
    // Reads of a regular file never wait anyway; blocking mode keeps them plain.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) failure = errno;
  }
  if (failure != 0) {
    static_cast<void>(::close(fd));
    errno = failure;
    return {};
  }
  return RegularFile(fd, status);
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), status_(other.status_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    status_ = other.status_;
  }
  return *this;
}

RegularFile::~RegularFile() {
  Close();
}

void RegularFile::Close() {
  if (fd_ >= 0) static_cast<void>(::close(std::exchange(fd_, -1)));
}

}  // namespace qmx::File
