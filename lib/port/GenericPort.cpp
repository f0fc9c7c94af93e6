#include "port/GenericPort.h"

#include <thread>

namespace qmx {
namespace {

// The transfer loop shared by read_all and write_all.
template <typename SomeOperation>
GenericPort::TransferResult TransferAll(SomeOperation some, unsigned len,
                                        std::chrono::milliseconds timeout,
                                        std::uint8_t failure_code) {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  // Short deadlines poll back to back. Waiting without a deadline polls like a
  // long one, so that it does not keep a core busy.
  const milliseconds poll =
      (timeout > milliseconds(9) || timeout.count() == 0) ? milliseconds(1) : timeout / 10;
  const steady_clock::time_point deadline = steady_clock::now() + timeout;
  unsigned moved = 0;
  for (;;) {
    const int n = some(moved, len - moved);
    if (n < 0) return GenericPort::Error(failure_code);
    moved += static_cast<unsigned>(n);
    if (moved == len) return qmx::Error::None{};
    if (poll.count() > 0) std::this_thread::sleep_for(poll);
    if (timeout.count() != 0 && steady_clock::now() >= deadline) return GenericPort::Error(4);
  }
}

}  // namespace

const std::string& GenericPort::Error::msg() const {
  static const std::string kOpenStr{"Could not open port"};
  static const std::string kReadStr{"Failed to read from port"};
  static const std::string kWriteStr{"Failed to write to port"};
  static const std::string kTimeoutStr{"Operation timed out"};
  return qmx::Error::LookupText(code(), {{2, kReadStr}, {3, kWriteStr}, {4, kTimeoutStr}},
                                kOpenStr);
}

int GenericPort::write_command(std::uint8_t*, unsigned) {
  return -1;
}

int GenericPort::write_command(std::uint8_t command) {
  return write_command(&command, 1);
}

GenericPort::TransferResult GenericPort::read_all(std::uint8_t* buf, unsigned len,
                                                  std::chrono::milliseconds timeout) {
  return TransferAll([&](unsigned done, unsigned rest) { return read_some(buf + done, rest); }, len,
                     timeout, 2);
}

GenericPort::TransferResult GenericPort::write_all(const std::uint8_t* data, unsigned len,
                                                   std::chrono::milliseconds timeout) {
  return TransferAll([&](unsigned done, unsigned rest) { return write_some(data + done, rest); },
                     len, timeout, 3);
}

}  // namespace qmx
