#include "support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace mrl_test {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Waits at most timeout for events on fd; the events that came, 0 when none
// did. While the slave side is closed the master reports POLLHUP at once: the
// wait then takes the whole timeout, so that a caller looking again does not spin.
short Await(int fd, short events, std::chrono::milliseconds timeout) {
  pollfd pfd{fd, events, 0};
  if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return 0;
  if ((pfd.revents & events) == 0) std::this_thread::sleep_for(timeout);
  return pfd.revents;
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  int slave = -1;
  Check(openpty(&master_, &slave, name, &raw, nullptr) == 0, "openpty");
  // The slave side keeps its settings while closed; the master keeps it in being.
  close(slave);
  slave_name_ = name;
  int on = 1;
  Check(ioctl(master_, TIOCPKT, &on) == 0, "TIOCPKT");
  Check(fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) == 0, "O_NONBLOCK");
  // A program the test starts must not hold the board's side: the board alone
  // decides when its line goes away.
  Check(fcntl(master_, F_SETFD, FD_CLOEXEC) == 0, "FD_CLOEXEC");
}

PseudoTerminal::~PseudoTerminal() {
  close(master_);
}

PseudoTerminal::Input PseudoTerminal::Read(std::chrono::milliseconds timeout) {
  Input input;
  const short events = Await(master_, POLLIN, timeout);
  if ((events & POLLIN) == 0) {
    input.closed = (events & POLLHUP) != 0;
    return input;
  }
  std::uint8_t buf[4096];
  const ssize_t n = read(master_, buf, sizeof buf);
  if (n <= 0) {
    input.closed = n < 0 && errno == EIO;
    return input;
  }
  // Packet mode: a leading 0 tags data; anything else is a status report.
  if (buf[0] == TIOCPKT_DATA) {
    input.data.assign(buf + 1, buf + n);
  } else {
    input.flushed = (buf[0] & TIOCPKT_FLUSHREAD) != 0;
  }
  return input;
}

std::size_t PseudoTerminal::Write(const std::uint8_t* bytes, std::size_t len,
                                  std::chrono::milliseconds timeout) {
  const ssize_t n = write(master_, bytes, len);
  if (n >= 0) return static_cast<std::size_t>(n);
  if (errno != EAGAIN && errno != EINTR) return len;
  Await(master_, POLLOUT, timeout);
  return 0;
}

void PseudoTerminal::HangUp() {
  close(master_);
  master_ = -1;
}

}  // namespace mrl_test
