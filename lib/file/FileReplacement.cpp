#include "FileReplacement.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "DescriptorTarget.h"

namespace qmx::File {
namespace {

constexpr std::size_t kCopyBufferSize = 64 * 1024;
// A temporary name is hidden and says whose it is: ".", the file's name (cut
// to fit), this marker, the number of the process that made it, ".", and
// kNameSuffixLength of kNameCharacters.
constexpr char kNameMarker[] = ".mrl-";
constexpr char kNameCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kNameSuffixLength = 6;
// How many names are tried before a folder is taken to be full of them.
constexpr int kNameAttempts = 100;
// Permission bits of a temporary file until the commit gives it those of the
// file it replaces, and of a file the commit creates (less the umask).
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kNewFileMode = 0666;

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

// The folder part of an absolute path.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The longest name a file of folder may have.
long NameMaxOf(const std::string& folder) {
  const long name_max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return name_max > 0 ? name_max : NAME_MAX;
}

// What a temporary name for the file base made by the process maker starts
// with, in a folder whose names have at most name_max characters: all of it
// but the suffix.
std::string NameStem(const std::string& base, const std::string& maker, long name_max) {
  const std::string marked = kNameMarker + maker + ".";
  // The file's own name, cut so that the rest still fits.
  const auto kept = static_cast<std::size_t>(
      std::max<long>(1, name_max - 1 - static_cast<long>(marked.size() + kNameSuffixLength)));
  return "." + base.substr(0, kept) + marked;
}

// The process that made name, when it is a temporary name for the file base
// in a folder whose names have at most name_max characters; 0 when not.
pid_t MakerOf(const std::string& name, const std::string& base, long name_max) {
  const std::size_t marker = name.rfind(kNameMarker);
  if (marker == std::string::npos || name.size() < kNameSuffixLength) return 0;
  const std::size_t digits = marker + sizeof kNameMarker - 1;
  const std::size_t suffix = name.size() - kNameSuffixLength;
  if (suffix <= digits + 1 || suffix - 1 - digits > 9 || name[suffix - 1] != '.') return 0;
  for (std::size_t i = digits; i + 1 < suffix; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  }
  for (std::size_t i = suffix; i < name.size(); ++i) {
    if (std::string_view(kNameCharacters).find(name[i]) == std::string_view::npos) return 0;
  }
  const std::string maker = name.substr(digits, suffix - 1 - digits);
  // Written as this program writes it: no leading zero, the name cut as for
  // that process.
  if (maker[0] == '0' || name.compare(0, suffix, NameStem(base, maker, name_max)) != 0) return 0;
  return static_cast<pid_t>(std::stol(maker));
}

// Whether the process pid is gone, so that what it left is nobody's.
bool HasEnded(pid_t pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the temporary files of this program for the file base in folder
// whose process has ended: what a process killed at its commit left behind.
void RemoveLeftoversIn(const std::string& folder, const std::string& base) {
  DIR* const dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const long name_max = NameMaxOf(folder);
  const std::string prefix = folder == "/" ? "" : folder;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t maker = MakerOf(entry->d_name, base, name_max);
    if (maker > 0 && maker != ::getpid() && HasEnded(maker)) {
      static_cast<void>(::unlink((prefix + "/" + entry->d_name).c_str()));
    }
  }
  static_cast<void>(::closedir(dir));
}

// The names of the temporary files that are ours to remove. A name is added
// and removed under the same lock as the step that creates or ends it, so
// that UnlinkAll never finds a file without its name or a name whose file is
// another's.
class PendingNames {
 public:
  template <typename Step>
  bool AddWhen(const std::string& name, Step created) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!created()) return false;
    names_.push_back(name);
    return true;
  }
  template <typename Step>
  bool RemoveWhen(const std::string& name, Step ended) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!ended()) return false;
    const auto found = std::find(names_.begin(), names_.end(), name);
    if (found != names_.end()) names_.erase(found);
    return true;
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

// Where an unnamed file open at fd is reached by name, to be linked in.
std::string ProcPathOf(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

PendingNames& Pending() {
  static PendingNames names;
  return names;
}

}  // namespace

void RemovePendingReplacements() {
  Pending().UnlinkAll();
}

int FileReplacementSteps::CreateUnnamed(const std::string& folder, mode_t mode) const {
  // Linking the descriptor itself, without /proc, takes a privilege that a
  // user does not have: a named file is the safer way there.
  if (::access("/proc/self/fd", X_OK) != 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

int FileReplacementSteps::CreateNamed(const std::string& name, mode_t mode) const {
  return ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode);
}

bool FileReplacementSteps::Link(int fd, const std::string& name) const {
  return ::linkat(AT_FDCWD, ProcPathOf(fd).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool FileReplacementSteps::WriteAll(int fd, std::string_view data) const {
  return WriteAllTo(fd, data);
}

bool FileReplacementSteps::Sync(int fd) const {
  return ::fsync(fd) == 0;
}

bool FileReplacementSteps::Rename(const std::string& from, const std::string& to) const {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

FileReplacement::FileReplacement(const std::string& path, Target target,
                                 const FileReplacementSteps& steps) {
  char resolved[PATH_MAX];
  if (::stat(path.c_str(), &old_) == 0) {
    if (!S_ISREG(old_.st_mode) || ::realpath(path.c_str(), resolved) == nullptr) return;
    // What the replacement keeps of the file is read through a descriptor:
    // the file must be readable, and stay the one that was looked at.
    source_ = ::open(resolved, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (source_ < 0 || ::fstat(source_, &old_) != 0 || !S_ISREG(old_.st_mode)) return;
    existed_ = true;
    target_ = resolved;
    folder_ = FolderOf(target_);
  } else {
    struct stat link {};
    // Nothing at all may be there: a symbolic link that leads nowhere is not
    // replaced by a file.
    if (errno != ENOENT || target != Target::kRegularFileOrNew ||
        ::lstat(path.c_str(), &link) == 0) {
      return;
    }
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (base.empty() || base == "." || base == ".." ||
        ::realpath(folder.c_str(), resolved) == nullptr) {
      return;
    }
    folder_ = resolved;
    target_ = (folder_ == "/" ? "" : folder_) + "/" + base;
  }
  RemoveLeftoversIn(folder_, target_.substr(target_.rfind('/') + 1));
  const mode_t mode = existed_ ? kPrivateMode : kNewFileMode;
  fd_ = steps.CreateUnnamed(folder_, mode);
  for (int attempt = 0; fd_ < 0 && attempt < kNameAttempts; ++attempt) {
    const std::string name = TemporaryName();
    const bool created = Pending().AddWhen(name, [&] {
      fd_ = steps.CreateNamed(name, mode);
      return fd_ >= 0;
    });
    if (created) name_ = name;
    if (!created && errno != EEXIST) break;
  }
  // The file's owner and group at once, so that a file they cannot be kept
  // for (another user's, for a user who may not give files away) is found
  // out before anything is done for it. Giving a file away clears its set-id
  // bits; the commit sets the bits last.
  if (fd_ >= 0 && existed_ && ::fchown(fd_, old_.st_uid, old_.st_gid) != 0) Discard();
}

FileReplacement::~FileReplacement() {
  Discard();
}

std::string FileReplacement::TemporaryName() const {
  const std::string base = target_.substr(target_.rfind('/') + 1);
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kNameCharacters - 2);
  std::string suffix(kNameSuffixLength, ' ');
  for (char& c : suffix) c = kNameCharacters[pick(random)];
  return (folder_ == "/" ? "" : folder_) + "/" +
         NameStem(base, std::to_string(::getpid()), NameMaxOf(folder_)) + suffix;
}

void FileReplacement::Discard() {
  if (source_ >= 0) static_cast<void>(::close(std::exchange(source_, -1)));
  if (fd_ >= 0) static_cast<void>(::close(std::exchange(fd_, -1)));
  if (name_.empty()) return;
  const std::string name = std::exchange(name_, std::string());
  static_cast<void>(Pending().RemoveWhen(name, [&] {
    static_cast<void>(::unlink(name.c_str()));
    return true;
  }));
}

bool FileReplacement::Write(std::string_view bytes, const FileReplacementSteps& steps) {
  return ready() && ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0 &&
         steps.WriteAll(fd_, bytes);
}

bool FileReplacement::CopyFrom(int source, off_t from, std::string_view prefix,
                               const FileReplacementSteps& steps) {
  struct stat status {};
  if (!ready() || ::fstat(source, &status) != 0 || ::ftruncate(fd_, 0) != 0 ||
      ::lseek(fd_, 0, SEEK_SET) != 0 || !steps.WriteAll(fd_, prefix)) {
    return false;
  }
  // Where the byte at from goes.
  const auto shift = static_cast<off_t>(prefix.size()) - from;
  off_t end = status.st_size;
  std::array<char, kCopyBufferSize> buffer;
  for (off_t at = NextData(source, from, end); at < end; at = NextData(source, at, end)) {
    const off_t data_end = EndOfData(source, at, end);
    if (::lseek(fd_, at + shift, SEEK_SET) < 0) return false;
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
  return ::ftruncate(fd_, static_cast<off_t>(prefix.size()) + std::max<off_t>(0, end - from)) == 0;
}

bool FileReplacement::Commit(const FileReplacementSteps& steps,
                             const std::function<bool()>& unchanged) {
  if (!ready()) return false;
  bool committed = true;
  if (existed_) {
    // The permissions with the access lists and the extended attributes,
    // through the system's own copy, so that nobody gains or loses access by
    // the replacement; what cannot be copied fails it. The copy leaves out
    // the set-user-id, set-group-id and sticky bits: all the bits are set
    // again last, once the owner (a change of which clears them) and the
    // contents are in place, as the access list has them (the group bits
    // are its mask).
    const char* const copy = name_.empty() ? "the replacement" : name_.c_str();
    struct stat now {};
    committed = ::perm_copy_fd(target_.c_str(), source_, copy, fd_, nullptr) == 0 &&
                ::attr_copy_fd(target_.c_str(), source_, copy, fd_, nullptr, nullptr) == 0 &&
                ::fstat(source_, &now) == 0 && ::fchmod(fd_, now.st_mode & 07777) == 0;
  }
  committed = committed && steps.Sync(fd_);
  for (int attempt = 0; committed && name_.empty() && attempt < kNameAttempts; ++attempt) {
    const std::string name = TemporaryName();
    if (Pending().AddWhen(name, [&] { return steps.Link(fd_, name); })) {
      name_ = name;
    } else if (errno != EEXIST) {
      committed = false;
    }
  }
  committed = committed && !name_.empty() && ::close(std::exchange(fd_, -1)) == 0 &&
              (!unchanged || unchanged()) &&
              Pending().RemoveWhen(name_, [&] { return steps.Rename(name_, target_); });
  if (committed) name_.clear();
  Discard();
  return committed;
}

}  // namespace qmx::File
