#pragma once
// Opening a file named by the user only when it is a regular file, so that a
// folder, a device or a FIFO is refused instead of read without end or waited
// on for ever.

#include <sys/stat.h>

#include <string>

namespace qmx::File {

// An open descriptor of a regular file, closed when this object goes.
class RegularFile {
 public:
  // Opens path for reading when it names a regular file, through symbolic
  // links. Never blocks: a FIFO without a writer or a device is opened without
  // waiting, found not to be a regular file and closed again. The result is not
  // open when the path cannot be opened or is not a regular file; errno then
  // says why (EISDIR, EINVAL, or the open's own reason).
  static RegularFile OpenForReading(const std::string& path);

  RegularFile() = default;
  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  bool is_open() const { return fd_ >= 0; }
  // The descriptor, -1 when not open; it stays owned by this object.
  int fd() const { return fd_; }
  // What the file was when it was opened (size, owner, mode).
  const struct stat& status() const { return status_; }

 private:
  RegularFile(int fd, const struct stat& status) : fd_(fd), status_(status) {}
  void Close();

  int fd_ = -1;
  struct stat status_ {};
};

}  // namespace qmx::File
