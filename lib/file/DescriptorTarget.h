#pragma once
// Writing to what a descriptor leads to as it stands: a descriptor the
// process was given (named as /dev/stdout, /dev/fd/N, /proc/self/fd/N or
// through links to those), or a device or FIFO opened by its name. Such a
// target is never truncated or replaced, and its position is never moved by
// anything but the writes themselves.

#include <optional>
#include <string>
#include <string_view>

namespace qmx::File {

// The number of this process's descriptor that path names, following its
// symbolic links one by one: /dev/stdin, /dev/stdout, /dev/stderr (0, 1, 2),
// /dev/fd/N, and /proc/self/fd/N (also as /proc/thread-self/fd/N or with the
// process's own id). None when path names anything else, or nothing; whether
// descriptor N is open is not asked.
std::optional<int> DescriptorNamedBy(const std::string& path);

// Writes all of bytes to fd where it stands, through plain system calls (no
// lock of the C or C++ streams is taken), waiting while a non-blocking fd
// takes nothing; blocks as long as writes to fd do. False with errno set when
// any part cannot be written. Any thread.
[[nodiscard]] bool WriteAllTo(int fd, std::string_view bytes);

// A descriptor open for writing, owned by this object and closed with it.
class WritableDescriptor {
 public:
  // A copy (close-on-exec) of the process's descriptor fd, sharing its
  // position and flags; not usable() when fd is not open for writing.
  static WritableDescriptor CopyOf(int fd);
  // Opens path for writing without creating or truncating it and without
  // making a terminal the process's controlling one; not usable() when it
  // cannot be opened. Blocks until a FIFO has a reader.
  static WritableDescriptor Open(const std::string& path);

  WritableDescriptor() = default;
  WritableDescriptor(WritableDescriptor&& other) noexcept;
  WritableDescriptor& operator=(WritableDescriptor&& other) noexcept;
  WritableDescriptor(const WritableDescriptor&) = delete;
  WritableDescriptor& operator=(const WritableDescriptor&) = delete;
  ~WritableDescriptor();

  bool usable() const { return fd_ >= 0; }

  // Writes all of bytes where the descriptor stands (at its position, or at
  // the end of a file it appends to), waiting while a non-blocking one takes
  // nothing. False with errno set when any part cannot be written.
  [[nodiscard]] bool WriteAll(std::string_view bytes) const;

 private:
  explicit WritableDescriptor(int fd) : fd_(fd) {}
  void Close();

  int fd_ = -1;
};

}  // namespace qmx::File
