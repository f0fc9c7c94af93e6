#include "process/SignalEnd.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace mrl {
namespace {

using std::chrono::milliseconds;

// How often a file that another thread keeps locked is tried again.
constexpr milliseconds kLockRetryInterval{1};

// Read by the SIGALRM handler, so it must be lock-free.
std::atomic<int> status_at_deadline{0};
static_assert(std::atomic<int>::is_always_lock_free);

void EndAtDeadline(int) {
  std::_Exit(status_at_deadline.load());
}

}  // namespace

void EndProcessWithin(milliseconds limit, int status) {
  status_at_deadline.store(status);
  struct sigaction action {};
  action.sa_handler = EndAtDeadline;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGALRM, &action, nullptr);
  const long long ms = limit.count() > 0 ? limit.count() : 1;
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  timer.it_value.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
  ::setitimer(ITIMER_REAL, &timer, nullptr);
}

bool FlushUnlessHeld(std::FILE* file, milliseconds wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  while (::ftrylockfile(file) != 0) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(kLockRetryInterval);
  }
  // The lock is recursive: fflush takes it once more.
  const bool flushed = std::fflush(file) == 0;
  ::funlockfile(file);
  return flushed;
}

}  // namespace mrl
