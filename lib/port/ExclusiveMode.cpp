#include "port/ExclusiveMode.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace qmx {
namespace {

// Held only around the ioctls, which never wait on the device.
std::mutex& HeldMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<int>& Held() {
  static std::vector<int> held;
  return held;
}

}  // namespace

int TakeExclusiveMode(int fd) {
  const std::lock_guard<std::mutex> lock(HeldMutex());
  if (::ioctl(fd, TIOCEXCL) != 0) return errno;
  Held().push_back(fd);
  return 0;
}

void ReleaseExclusiveMode(int fd) {
  const std::lock_guard<std::mutex> lock(HeldMutex());
  std::vector<int>& held = Held();
  const auto at = std::find(held.begin(), held.end(), fd);
  if (at == held.end()) return;
  static_cast<void>(::ioctl(fd, TIOCNXCL));
  held.erase(at);
}

void ReleaseAllExclusiveModes() {
  const std::lock_guard<std::mutex> lock(HeldMutex());
  for (const int fd : Held()) static_cast<void>(::ioctl(fd, TIOCNXCL));
}

}  // namespace qmx
