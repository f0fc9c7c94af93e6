#include "DescriptorTarget.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <utility>
#include <vector>

namespace qmx::File {
namespace {

// As many symbolic links as the system itself follows in one path.
constexpr int kMaxLinks = 40;

// The names of path between its slashes, in order; empty ones left out.
std::deque<std::string> Components(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

// text as a descriptor number: decimal digits only, within an int.
std::optional<int> Number(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The descriptor that the absolute path names by its form alone.
std::optional<int> DescriptorOfForm(const std::string& path) {
  const std::pair<const char*, int> standard[] = {
      {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
  for (const auto& [name, fd] : standard) {
    if (path == name) return fd;
  }
  const std::string own = std::to_string(::getpid());
  const std::string folders[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                 "/proc/" + own + "/fd/", "/proc/" + own + "/task/" + own + "/fd/"};
  for (const std::string& folder : folders) {
    if (path.compare(0, folder.size(), folder) == 0) {
      return Number(std::string_view(path).substr(folder.size()));
    }
  }
  return std::nullopt;
}

std::optional<std::string> LinkTarget(const std::string& path) {
  std::vector<char> target(PATH_MAX);
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  return std::string(target.data(), static_cast<std::size_t>(length));
}

}  // namespace

std::optional<int> DescriptorNamedBy(const std::string& path) {
  std::string resolved;  // no link in it; empty for the root
  if (path.empty()) return std::nullopt;
  if (path.front() != '/') {
    std::vector<char> cwd(PATH_MAX);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return std::nullopt;
    resolved = cwd.data();
    if (resolved == "/") resolved.clear();
  }
  std::deque<std::string> rest = Components(path);
  int links = 0;
  while (!rest.empty()) {
    const std::string name = std::move(rest.front());
    rest.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      resolved.erase(std::min(resolved.rfind('/'), resolved.size()));
      continue;
    }
    const std::string candidate = resolved + "/" + name;
    // The descriptor links under /proc lead elsewhere, so they are known by
    // their form before they are followed (and where /proc is missing).
    std::string whole = candidate;
    for (const std::string& part : rest) whole += "/" + part;
    if (const std::optional<int> fd = DescriptorOfForm(whole)) return fd;
    struct stat status {};
    if (::lstat(candidate.c_str(), &status) != 0) return std::nullopt;
    if (!S_ISLNK(status.st_mode)) {
      resolved = candidate;
      continue;
    }
    const std::optional<std::string> target = LinkTarget(candidate);
    if (!target || ++links > kMaxLinks) return std::nullopt;
    std::deque<std::string> parts = Components(*target);
    rest.insert(rest.begin(), parts.begin(), parts.end());
    if (target->front() == '/') resolved.clear();
  }
  return std::nullopt;
}

WritableDescriptor WritableDescriptor::CopyOf(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_PATH) != 0) return {};
  const int access = flags & O_ACCMODE;
  if (access != O_WRONLY && access != O_RDWR) return {};
  return WritableDescriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

WritableDescriptor WritableDescriptor::Open(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return WritableDescriptor(fd);
}

WritableDescriptor::WritableDescriptor(WritableDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

WritableDescriptor& WritableDescriptor::operator=(WritableDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

WritableDescriptor::~WritableDescriptor() {
  Close();
}

void WritableDescriptor::Close() {
  if (fd_ >= 0) static_cast<void>(::close(fd_));
  fd_ = -1;
}

bool WritableDescriptor::WriteAll(std::string_view bytes) const {
  if (!usable()) {
    errno = EBADF;
    return false;
  }
  return WriteAllTo(fd_, bytes);
}

bool WriteAllTo(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    if (written == 0) errno = EIO;
    return false;
  }
  return true;
}

}  // namespace qmx::File
