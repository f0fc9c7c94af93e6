#include "FileReplacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace mrl {
namespace {

constexpr std::size_t kCopyBufferSize = 64 * 1024;

// The start of the first data at or after at in fd, end when only a hole
// follows. A file system that cannot tell holes has data everywhere.
off_t NextData(int fd, off_t at, off_t end) {
  const off_t data = ::lseek(fd, at, SEEK_DATA);
  if (data >= 0) return std::min(data, end);
  return errno == ENXIO ? end : at;
}

// The end of the data that starts at at in fd.
off_t EndOfData(int fd, off_t at, off_t end) {
  const off_t hole = ::lseek(fd, at, SEEK_HOLE);
  return hole > at ? std::min(hole, end) : end;
}

// The names of the temporary files that are ours to remove.
class PendingNames {
 public:
  void Add(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    names_.push_back(name);
  }
  void Remove(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find(names_.begin(), names_.end(), name);
    if (found != names_.end()) names_.erase(found);
  }
  void UnlinkAll() {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& name : names_) static_cast<void>(::unlink(name.c_str()));
    names_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
};

PendingNames& Pending() {
  static PendingNames names;
  return names;
}

}  // namespace

void RemovePendingReplacements() {
  Pending().UnlinkAll();
}

int FileReplacementSteps::CreateTemporary(std::string& name) const {
  return ::mkostemp(name.data(), O_CLOEXEC);
}

bool FileReplacementSteps::WriteAll(int fd, std::string_view data) const {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool FileReplacementSteps::Sync(int fd) const {
  return ::fsync(fd) == 0;
}

bool FileReplacementSteps::Rename(const std::string& from, const std::string& to) const {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

FileReplacement::FileReplacement(const std::string& path, const FileReplacementSteps& steps) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &old_) != 0 ||
      !S_ISREG(old_.st_mode)) {
    return;
  }
  target_ = resolved;
  name_ = target_ + ".XXXXXX";
  fd_ = steps.CreateTemporary(name_);
  pending_ = fd_ >= 0;
  if (pending_) Pending().Add(name_);
}

FileReplacement::~FileReplacement() {
  Discard();
}

void FileReplacement::Discard() {
  if (fd_ >= 0) static_cast<void>(::close(std::exchange(fd_, -1)));
  if (!std::exchange(pending_, false)) return;
  static_cast<void>(::unlink(name_.c_str()));
  Pending().Remove(name_);
}

bool FileReplacement::CopyFrom(int source, off_t from, const FileReplacementSteps& steps) {
  struct stat status {};
  if (!ready() || ::fstat(source, &status) != 0) return false;
  const off_t start = size_ - from;  // where offset 0 of source would go
  off_t end = status.st_size;
  std::array<char, kCopyBufferSize> buffer;
  for (off_t at = NextData(source, from, end); at < end; at = NextData(source, at, end)) {
    const off_t data_end = EndOfData(source, at, end);
    if (::lseek(fd_, start + at, SEEK_SET) < 0) return false;
    while (at < data_end) {
      const auto wanted = static_cast<std::size_t>(
          std::min<off_t>(data_end - at, static_cast<off_t>(buffer.size())));
      const ssize_t got = ::pread(source, buffer.data(), wanted, at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) {  // the file shrank since it was measured: it ends here
        end = at;
        break;
      }
      if (!steps.WriteAll(fd_, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
        return false;
      }
      at += got;
    }
  }
  size_ = std::max(size_, start + end);
  return ::ftruncate(fd_, size_) == 0;
}

bool FileReplacement::Commit(const FileReplacementSteps& steps) {
  if (!ready()) return false;
  // The owner first: giving a file away clears its set-id bits.
  const bool owned = ::fchown(fd_, old_.st_uid, old_.st_gid) == 0 || errno == EPERM;
  const bool committed = owned && ::fchmod(fd_, old_.st_mode & 07777) == 0 && steps.Sync(fd_) &&
                         ::close(std::exchange(fd_, -1)) == 0 && steps.Rename(name_, target_);
  if (committed) {
    pending_ = false;
    Pending().Remove(name_);
  }
  Discard();
  return committed;
}

}  // namespace mrl
