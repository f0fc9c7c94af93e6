#include "port/GenericPort.h"

#include <algorithm>
#include <functional>
#include <thread>
#include <utility>

namespace qmx {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The plain pause between some-operations of a port that cannot tell when it is ready.
constexpr milliseconds kPause{1};
// Timeouts up to this call the some-operations back to back.
constexpr milliseconds kBackToBack{9};
// The longest single wait; a transfer without a deadline looks again this often.
constexpr milliseconds kLongestWait{100};

// The whole-transfer deadline on the port's clock, taken once at the start.
class TransferClock {
 public:
  using Now = std::function<steady_clock::time_point()>;
  TransferClock(milliseconds timeout, Now now)
      : timeout_(timeout), now_(std::move(now)), deadline_(now_() + timeout) {}

  // How long the wait before the next call may take; 0: call back to back.
  milliseconds next_wait() const {
    if (timeout_.count() == 0) return kLongestWait;
    if (timeout_ <= kBackToBack) return milliseconds(0);
    const auto left = std::chrono::ceil<milliseconds>(deadline_ - now_());
    return std::clamp(left, milliseconds(0), kLongestWait);
  }
  bool expired() const { return timeout_.count() != 0 && now_() >= deadline_; }

 private:
  milliseconds timeout_;
  Now now_;
  steady_clock::time_point deadline_;
};

// The transfer loop shared by read_all and write_all: completion is tested
// before the clock, and no call is made once the deadline has been seen to pass.
template <typename SomeOperation, typename Wait>
GenericPort::TransferResult TransferAll(SomeOperation some, Wait wait, unsigned len,
                                        const TransferClock& clock,
                                        const GenericPort::Error& failure) {
  unsigned moved = 0;
  for (;;) {
    const int n = some(moved, len - moved);
    if (n < 0) return failure;
    moved += static_cast<unsigned>(n);
    if (moved == len) return qmx::Error::None{};
    const milliseconds limit = clock.next_wait();
    if (limit.count() > 0) wait(limit);
    if (clock.expired()) return GenericPort::Error::kTimedOut;
  }
}

}  // namespace

const std::string& GenericPort::Error::msg() const {
  static const std::string kOpenStr{"Could not open port"};
  static const std::string kReadStr{"Failed to read from port"};
  static const std::string kWriteStr{"Failed to write to port"};
  static const std::string kTimeoutStr{"Operation timed out"};
  return qmx::Error::LookupText(code(),
                                {{kReadFailed.code(), kReadStr},
                                 {kWriteFailed.code(), kWriteStr},
                                 {kTimedOut.code(), kTimeoutStr}},
                                kOpenStr);
}

int GenericPort::write_command(std::uint8_t*, unsigned) {
  return -1;
}

int GenericPort::write_command(std::uint8_t command) {
  return write_command(&command, 1);
}

void GenericPort::wait_ready(Readiness, milliseconds limit) {
  std::this_thread::sleep_for(std::min(limit, kPause));
}

int GenericPort::wait_sent(milliseconds) {
  return 0;
}

steady_clock::time_point GenericPort::now() const {
  return steady_clock::now();
}

GenericPort::TransferResult GenericPort::read_all(std::uint8_t* buf, unsigned len,
                                                  milliseconds timeout) {
  const TransferClock clock(timeout, [this] { return now(); });
  return TransferAll([&](unsigned done, unsigned rest) { return read_some(buf + done, rest); },
                     [&](milliseconds limit) { wait_ready(Readiness::kInput, limit); }, len, clock,
                     Error::kReadFailed);
}

GenericPort::TransferResult GenericPort::write_all(const std::uint8_t* data, unsigned len,
                                                   milliseconds timeout) {
  const TransferClock clock(timeout, [this] { return now(); });
  TransferResult handed =
      TransferAll([&](unsigned done, unsigned rest) { return write_some(data + done, rest); },
                  [&](milliseconds limit) { wait_ready(Readiness::kRoom, limit); }, len, clock,
                  Error::kWriteFailed);
  if (handed.failed()) return handed;
  for (;;) {
    const int unsent = wait_sent(clock.next_wait());
    if (unsent == 0) return qmx::Error::None{};
    if (unsent < 0 || clock.expired()) return Error::kWriteFailed;
  }
}

}  // namespace qmx
