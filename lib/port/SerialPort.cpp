#include "port/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "port/ExclusiveMode.h"

namespace qmx {
namespace {

using std::chrono::milliseconds;

// Bits a byte takes on the line: start bit, 8 data bits, stop bit.
constexpr unsigned kBitsPerByte = 10;
// The rate assumed for sending when the driver does not tell its own.
constexpr unsigned kFallbackRate = 9600;
// The shortest pause while waiting for the driver to send what it holds.
constexpr std::chrono::microseconds kMinimumPause{100};

// How long bytes take on the line at rate bits per second.
std::chrono::microseconds LineTime(unsigned bytes, unsigned rate) {
  return std::chrono::microseconds(1'000'000ull * bytes * kBitsPerByte / rate);
}

// What poll reports for a device that has hung up or fails.
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// strerror_r comes in a GNU and an XSI shape; both end here.
[[maybe_unused]] const char* ErrorText(const char* gnu_result, const char*) {
  return gnu_result;
}
[[maybe_unused]] const char* ErrorText(int xsi_result, const char* buf) {
  return xsi_result == 0 ? buf : "";
}

// The system's text for errno error.
std::string SystemText(int error) {
  char buf[256] = {};
  return ErrorText(strerror_r(error, buf, sizeof buf), buf);
}

// Takes the terminal open at fd for one port alone: the advisory lock and the
// terminal's exclusive mode. A terminal that another already holds in
// exclusive mode refuses every open but root's, so it is asked first and
// refused as busy (EBUSY) for root too. 0, or the errno of the refusal
// (ENOTTY for a device that is no terminal, EWOULDBLOCK for a lock held).
int TakeExclusively(int fd) {
  int held = 0;
  if (::ioctl(fd, TIOCGEXCL, &held) != 0) return errno;
  if (held != 0) return EBUSY;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno;
  return TakeExclusiveMode(fd);
}

bool NoModemLines(int error) {
  return error == ENOTTY || error == EINVAL;
}

}  // namespace

SerialPort::SerialPort(const char* device) {
  fd_ = OpenExclusive(device);
  if (fd_ < 0) open_error_ = last_error_.load();
  std::this_thread::sleep_for(milliseconds(20));
}

SerialPort::~SerialPort() {
  close();
}

int SerialPort::OpenExclusive(const char* device) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    NoteFailure(errno);
    return -1;
  }
  const int error = TakeExclusively(fd);
  if (error != 0) {
    NoteFailure(error);
    ::close(fd);
    return -1;
  }
  return fd;
}

int SerialPort::close() {
  if (fd_ < 0) return 0;
  ReleaseExclusiveMode(fd_);
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0) NoteFailure(errno);
  return result == 0 ? 0 : 1;
}

int SerialPort::flush() {
  if (::tcflush(fd_, TCIOFLUSH) == 0) return 0;
  NoteFailure(errno);
  return 1;
}

void SerialPort::reset() {
  set_RTS(true);
  set_DTR(true);
  flush();
  set_DTR(false);
  flush();
  std::this_thread::sleep_for(milliseconds(200));
  set_RTS(false);
  set_DTR(true);
  flush();
  set_DTR(false);
  std::this_thread::sleep_for(milliseconds(100));
}

unsigned SerialPort::LineRate() {
  SerialLineSettings settings;
  const bool known = detail::ReadDriverSettings(fd_, settings) && settings.output_rate > 0;
  return known ? settings.output_rate : kFallbackRate;
}

int SerialPort::write_some(const std::uint8_t* data, unsigned len) {
  const ssize_t n = ::write(fd_, data, len);
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EINTR) return 0;
  NoteFailure(errno);
  return -1;
}

void SerialPort::wait_ready(Readiness readiness, milliseconds limit) {
  pollfd watched{fd_, static_cast<short>(readiness == Readiness::kInput ? POLLIN : POLLOUT), 0};
  const int ready = ::poll(&watched, 1, static_cast<int>(limit.count()));
  if (ready < 0 && errno == EINTR) return;
  if (ready < 0) {
    NoteFailure(errno);
  } else if ((watched.revents & kGoneEvents) != 0) {
    NoteFailure(EIO);
  } else {
    return;
  }
  // Waiting on the device would return at once from now on: pause instead.
  GenericPort::wait_ready(readiness, limit);
}

int SerialPort::QueuedOutput() {
  int queued = 0;
  if (::ioctl(fd_, TIOCOUTQ, &queued) == 0) return std::max(queued, 0);
  NoteFailure(errno);
  return -1;
}

int SerialPort::wait_sent(milliseconds limit) {
  const int queued = QueuedOutput();
  if (queued <= 0 || limit.count() == 0) return queued;
  const std::chrono::microseconds drain = LineTime(static_cast<unsigned>(queued), LineRate());
  std::this_thread::sleep_for(std::clamp<std::chrono::microseconds>(drain, kMinimumPause, limit));
  return QueuedOutput();
}

int SerialPort::read_some(std::uint8_t* buf, unsigned len) {
  const ssize_t n = ::read(fd_, buf, len);
  if (n > 0) return static_cast<int>(n);
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    NoteFailure(errno);
    return -1;
  }
  // The line returns reads at once (VMIN 0), so an empty read looks the same
  // whether nothing has arrived yet or the device has hung up.
  if (!Gone()) return 0;
  NoteFailure(EIO);
  return -1;
}

bool SerialPort::Gone() const {
  pollfd watched{fd_, POLLIN, 0};
  return ::poll(&watched, 1, 0) > 0 && (watched.revents & kGoneEvents) != 0;
}

std::string SerialPort::getLastErrorString() const {
  const int error = last_error_.load();
  if (error == 0) return {};
  return "Error " + std::to_string(static_cast<unsigned>(error)) + ": " + SystemText(error);
}

std::string SerialPort::open_failure() const {
  if (open_error_ == 0) return {};
  // flock refuses with EWOULDBLOCK; a device in exclusive mode, with EBUSY.
  if (open_error_ == EWOULDBLOCK || open_error_ == EBUSY) {
    return "the device is busy or held by another program";
  }
  if (open_error_ == ENOTTY) return "not a serial device";
  return SystemText(open_error_);
}

SerialLineSettings SerialPort::get_state() {
  SerialLineSettings settings;
  if (!detail::ReadDriverSettings(fd_, settings)) NoteFailure(errno);
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
    settings.dtr = (lines & TIOCM_DTR) != 0;
    settings.rts = (lines & TIOCM_RTS) != 0;
  } else if (!NoModemLines(errno)) {
    NoteFailure(errno);
  }
  return settings;
}

int SerialPort::set_state(const SerialLineSettings& settings) {
  if (!detail::WriteDriverSettings(fd_, settings)) {
    NoteFailure(errno);
    return 1;
  }
  for (const auto& [mask, high] : {std::pair{TIOCM_DTR, settings.dtr}, {TIOCM_RTS, settings.rts}}) {
    const int error = DriveLines(mask, high);
    if (error != 0 && !NoModemLines(error)) return 1;
  }
  return 0;
}

int SerialPort::DriveLines(int mask, bool high) {
  if (::ioctl(fd_, high ? TIOCMBIS : TIOCMBIC, &mask) == 0) return 0;
  const int error = errno;
  NoteFailure(error);
  return error;
}

int SerialPort::set_RTS(bool high) {
  return DriveLines(TIOCM_RTS, high) == 0 ? 1 : 0;
}

int SerialPort::set_DTR(bool high) {
  return DriveLines(TIOCM_DTR, high) == 0 ? 1 : 0;
}

}  // namespace qmx
