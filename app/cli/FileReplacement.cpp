#include "FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace mrl {
namespace {

// The temporary file until it takes the old file's place: while it is ours,
// it is closed and removed when this object goes.
class TemporaryFile {
 public:
  TemporaryFile(const std::string& target, const FileReplacementSteps& steps)
      : name_(target + ".XXXXXX"), fd_(steps.CreateTemporary(name_)), ours_(fd_ >= 0) {}
  ~TemporaryFile() {
    if (fd_ >= 0) static_cast<void>(::close(fd_));
    if (ours_) static_cast<void>(::unlink(name_.c_str()));
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return ours_; }
  int fd() const { return fd_; }

  // Gives the file mode, puts it on the disk, closes it and renames it to
  // target; false when any of that fails.
  bool Commit(const std::string& target, mode_t mode) {
    if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) return false;
    if (::close(std::exchange(fd_, -1)) != 0 || ::rename(name_.c_str(), target.c_str()) != 0) {
      return false;
    }
    ours_ = false;
    return true;
  }

 private:
  std::string name_;
  int fd_;
  bool ours_;
};

}  // namespace

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

bool ReplaceFileContents(const std::string& path, std::string_view contents,
                         const FileReplacementSteps& steps) {
  char resolved[PATH_MAX];
  struct stat old_file {};
  if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &old_file) != 0 ||
      !S_ISREG(old_file.st_mode)) {
    return false;
  }
  const std::string target = resolved;
  TemporaryFile temporary(target, steps);
  return temporary.created() && steps.WriteAll(temporary.fd(), contents) &&
         temporary.Commit(target, old_file.st_mode & 07777);
}

}  // namespace mrl
