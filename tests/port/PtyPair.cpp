#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace mrl_test {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

PtyPair::PtyPair() {
  char name[256] = {};
  if (::openpty(&board_, &terminal_, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed, errno " << errno;
    return;
  }
  name_ = name;
  ::fcntl(board_, F_SETFL, ::fcntl(board_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (board_ >= 0) ::close(board_);
  if (terminal_ >= 0) ::close(terminal_);
}

void PtyPair::send(const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(board_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else {
      pollfd writable{board_, POLLOUT, 0};
      ASSERT_GT(::poll(&writable, 1, 5000), 0) << "the port stopped taking bytes";
    }
  }
}

std::vector<std::uint8_t> PtyPair::receive(std::size_t count, milliseconds timeout) {
  std::vector<std::uint8_t> got;
  const auto deadline = steady_clock::now() + timeout;
  while (got.size() < count) {
    std::uint8_t buf[4096];
    const ssize_t n = ::read(board_, buf, std::min(sizeof buf, count - got.size()));
    if (n > 0) {
      got.insert(got.end(), buf, buf + n);
      continue;
    }
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) break;
    pollfd readable{board_, POLLIN, 0};
    ::poll(&readable, 1, static_cast<int>(left.count()));
  }
  return got;
}

bool PtyPair::bare_exchange(std::uint8_t byte) {
  if (::write(terminal_, &byte, 1) != 1) return false;
  pollfd readable{terminal_, POLLIN, 0};
  std::uint8_t back = 0;
  return ::poll(&readable, 1, 3000) > 0 && ::read(terminal_, &back, 1) == 1 && back == byte;
}

bool PtyPair::port_has_input(milliseconds timeout) {
  pollfd readable{terminal_, POLLIN, 0};
  return ::poll(&readable, 1, static_cast<int>(timeout.count())) > 0;
}

}  // namespace mrl_test

namespace mrl_test {

void PtyPair::hang_up() {
  ::close(board_);
  board_ = -1;
}

}  // namespace mrl_test
