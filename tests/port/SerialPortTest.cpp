#include "port/SerialPort.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <numeric>
#include <thread>

#include "SerialLine.h"

namespace {

using mrl_test::ErrorString;
using mrl_test::SerialPortTest;
using mrl_test::SetUpLine;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return bytes;
}

TEST_F(SerialPortTest, OpensExclusively) {
  auto first = std::make_unique<qmx::SerialPort>(pty_.name().c_str());
  ASSERT_TRUE(first->is_open());
  EXPECT_EQ(first->getLastErrorString(), "");

  EXPECT_EQ(first->open_failure(), "");

  qmx::SerialPort second(pty_.name().c_str());
  EXPECT_FALSE(second.is_open());
  EXPECT_EQ(second.getLastErrorString().rfind("Error ", 0), 0u);
  EXPECT_EQ(second.open_failure(), "the device is busy or held by another program");

  first.reset();
  qmx::SerialPort after_release(pty_.name().c_str());
  EXPECT_TRUE(after_release.is_open()) << after_release.getLastErrorString();
}

TEST_F(SerialPortTest, RefusesADeviceLockedByAnotherProgram) {
  const int other = ::open(pty_.name().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

  qmx::SerialPort port(pty_.name().c_str());
  EXPECT_FALSE(port.is_open());
  EXPECT_EQ(port.getLastErrorString(), ErrorString(EWOULDBLOCK));
  EXPECT_EQ(port.open_failure(), "the device is busy or held by another program");
  ::close(other);
}

TEST(SerialPortMissing, DoesNotOpenAndIsHarmless) {
  const auto start = steady_clock::now();
  auto port = std::make_unique<qmx::SerialPort>("/dev/mrl-test-no-such-device");
  EXPECT_GE(steady_clock::now() - start, milliseconds(20));
  EXPECT_FALSE(port->is_open());
  EXPECT_EQ(port->getLastErrorString(), ErrorString(ENOENT));

  std::uint8_t byte = 0x55;
  EXPECT_EQ(port->read_some(&byte, 1), -1);
  EXPECT_EQ(port->write_some(&byte, 1), -1);
  EXPECT_EQ(port->flush(), 1);
  EXPECT_EQ(port->close(), 0);
  port.reset();
}

// Why a device did not open, as the user is told.
TEST(SerialPortOpenFailure, SaysWhyTheDeviceDidNotOpen) {
  const struct {
    const char* device;
    std::string reason;
  } kCases[] = {
      {"/dev/mrl-test-no-such-device", std::strerror(ENOENT)},
      {"/", std::strerror(EISDIR)},
      {"/dev/null", "not a serial device"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.device);
    qmx::SerialPort port(c.device);
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.open_failure(), c.reason);
  }
}

// Why the port does not open device for an unprivileged user ("opened" when
// it does). Root opens any device whatever its permissions, and even one held
// in exclusive mode, so when the test runs as root the port is opened in a
// child process that runs as the user nobody.
std::string OpenFailureForAUser(const std::string& device) {
  constexpr uid_t kNobody = 65534;
  int reply[2];
  if (::pipe(reply) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no child";
  if (child == 0) {
    ::close(reply[0]);
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
    qmx::SerialPort port(device.c_str());
    const std::string reason = port.is_open() ? "opened" : port.open_failure();
    const bool sent =
        ::write(reply[1], reason.data(), reason.size()) == static_cast<ssize_t>(reason.size());
    ::_exit(sent ? 0 : 3);
  }
  ::close(reply[1]);
  std::string reason;
  char buf[256];
  for (ssize_t n; (n = ::read(reply[0], buf, sizeof buf)) > 0;) reason.append(buf, buf + n);
  ::close(reply[0]);
  int status = -1;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return reason;
}

TEST_F(SerialPortTest, SaysPermissionDeniedToAUserWithoutAccess) {
  ASSERT_EQ(::chmod(pty_.name().c_str(), 0), 0);
  EXPECT_EQ(OpenFailureForAUser(pty_.name()), std::strerror(EACCES));
}

// Another program holds the device in exclusive mode, without the advisory
// lock: the port is refused as busy, for root (whom the open lets in) as for
// any other user (whom the open refuses).
TEST_F(SerialPortTest, RefusesADeviceHeldExclusivelyByAnotherProgram) {
  const int other = ::open(pty_.name().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);

  qmx::SerialPort port(pty_.name().c_str());
  EXPECT_FALSE(port.is_open());
  EXPECT_EQ(port.getLastErrorString(), ErrorString(EBUSY));
  EXPECT_EQ(port.open_failure(), "the device is busy or held by another program");

  ASSERT_EQ(::chmod(pty_.name().c_str(), 0666), 0);
  EXPECT_EQ(OpenFailureForAUser(pty_.name()), "the device is busy or held by another program");

  ASSERT_EQ(::ioctl(other, TIOCNXCL), 0);
  qmx::SerialPort after_release(pty_.name().c_str());
  EXPECT_TRUE(after_release.is_open()) << after_release.getLastErrorString();
  ::close(other);
}

TEST_F(SerialPortTest, BytesGoBothWaysUnchanged) {
  auto port = OpenLine();
  // Every byte value, including the ones a terminal would otherwise edit,
  // translate or echo (CR, LF, CTRL-C, XON, XOFF, DEL).
  std::vector<std::uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);

  ASSERT_FALSE(port->write_all(all.data(), 256, milliseconds(3000)).failed());
  EXPECT_EQ(pty_.receive(257, milliseconds(500)), all);

  pty_.send(all);
  std::vector<std::uint8_t> got(256);
  ASSERT_FALSE(port->read_all(got.data(), 256, milliseconds(3000)).failed());
  EXPECT_EQ(got, all);
  EXPECT_TRUE(pty_.receive(1, milliseconds(50)).empty()) << "the line echoed";
}

TEST_F(SerialPortTest, ReadReturnsAtOnceWhenNothingArrived) {
  auto port = OpenLine();
  const std::string error_before = port->getLastErrorString();
  std::uint8_t buf[16];
  const auto start = steady_clock::now();
  EXPECT_EQ(port->read_some(buf, sizeof buf), 0);
  EXPECT_LT(steady_clock::now() - start, milliseconds(500));
  EXPECT_EQ(port->getLastErrorString(), error_before) << "nothing arriving is no failure";
}

TEST_F(SerialPortTest, SettingsReachTheDriverWhole) {
  auto port = OpenLine();
  for (unsigned baud : {250000u, 1000000u, 31250u, 115200u, 9600u}) {
    SetUpLine(*port, baud);
    const qmx::SerialLineSettings read_back = port->get_state();
    EXPECT_EQ(read_back.baud_rate(), baud);
    EXPECT_EQ(read_back.input_rate, baud);
    EXPECT_EQ(read_back.control_modes & CSIZE, static_cast<unsigned>(CS8));
    EXPECT_EQ(read_back.control_modes & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_NE(read_back.control_modes & CREAD, 0u);
    EXPECT_NE(read_back.control_modes & CLOCAL, 0u);
    EXPECT_EQ(read_back.input_modes & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(read_back.output_modes & OPOST, 0u);
    EXPECT_EQ(read_back.local_modes & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(read_back.control_chars[VMIN], 0);
    EXPECT_EQ(read_back.control_chars[VTIME], 0);
  }
  // Written back unchanged, the record reads back the same.
  const qmx::SerialLineSettings before = port->get_state();
  ASSERT_EQ(port->set_state(before), 0);
  const qmx::SerialLineSettings after = port->get_state();
  EXPECT_EQ(after.input_modes, before.input_modes);
  EXPECT_EQ(after.output_modes, before.output_modes);
  EXPECT_EQ(after.control_modes, before.control_modes);
  EXPECT_EQ(after.local_modes, before.local_modes);
  EXPECT_EQ(after.control_chars, before.control_chars);
  EXPECT_EQ(after.output_rate, before.output_rate);
}

TEST_F(SerialPortTest, FlushDiscardsWhatArrived) {
  auto port = OpenLine();
  pty_.send({1, 2, 3});
  ASSERT_TRUE(pty_.port_has_input(milliseconds(2000)));
  EXPECT_EQ(port->flush(), 0);
  std::uint8_t buf[8];
  EXPECT_EQ(port->read_some(buf, sizeof buf), 0);

  pty_.send({4});
  ASSERT_FALSE(port->read_all(buf, 1, milliseconds(3000)).failed());
  EXPECT_EQ(buf[0], 4);
}

// A pseudo-terminal has no modem lines: the line calls fail, and reset goes
// through its whole sequence regardless and leaves the port usable.
TEST_F(SerialPortTest, ResetIsHarmlessWithoutModemLines) {
  auto port = OpenLine();
  EXPECT_EQ(port->set_RTS(true), 0);
  EXPECT_EQ(port->getLastErrorString(), ErrorString(ENOTTY));

  const auto start = steady_clock::now();
  port->reset();
  EXPECT_GE(steady_clock::now() - start, milliseconds(300));

  ASSERT_TRUE(port->is_open());
  const std::vector<std::uint8_t> bytes = {0xA5, 0x5A};
  ASSERT_FALSE(port->write_all(bytes.data(), 2, milliseconds(3000)).failed());
  EXPECT_EQ(pty_.receive(2, milliseconds(500)), bytes);
}

// A line that went away fails reads and writes at once, whatever the deadline.
TEST_F(SerialPortTest, HungUpLine) {
  auto port = OpenLine();
  pty_.hang_up();
  std::uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(port->read_some(buf, 4), -1);
  EXPECT_EQ(static_cast<int>(port->read_all(buf, 4, milliseconds(0))), 2);
  EXPECT_EQ(static_cast<int>(port->write_all(buf, 4, milliseconds(3000))), 3);
  EXPECT_EQ(port->getLastErrorString(), ErrorString(EIO));
}

// A far end that stops taking bytes: write_some hands the driver what fits and
// returns at once; with the driver's buffer full it takes nothing.
TEST_F(SerialPortTest, WriteSomeTakesWhatFitsWithoutWaiting) {
  auto port = OpenLine();
  const std::vector<std::uint8_t> block = Pattern(256 * 1024, 1);
  const auto len = static_cast<int>(block.size());
  const std::string error_before = port->getLastErrorString();
  const auto start = steady_clock::now();
  int taken = port->write_some(block.data(), static_cast<unsigned>(len));
  ASSERT_GT(taken, 0);
  EXPECT_LT(taken, len);
  // The far end's line discipline may still take in a few kilobytes of what
  // the driver holds, whenever the kernel gets to it; then the buffer stays full.
  int more = 0;
  while (taken < len && (more = port->write_some(block.data() + taken, 1)) > 0) taken += more;
  EXPECT_EQ(more, 0);
  EXPECT_LT(taken, len);
  EXPECT_LT(steady_clock::now() - start, milliseconds(500));
  EXPECT_EQ(port->getLastErrorString(), error_before) << "a full buffer is no failure";

  const std::vector<std::uint8_t> handed(block.begin(), block.begin() + taken);
  EXPECT_TRUE(pty_.receive(handed.size(), milliseconds(3000)) == handed);
}

// The terminal reads on one thread while it writes on another.
TEST_F(SerialPortTest, ReadAndWriteRunOnTwoThreadsAtOnce) {
  constexpr std::size_t kCount = 256 * 1024;
  auto port = OpenLine(4'000'000);
  const std::vector<std::uint8_t> to_board = Pattern(kCount, 3);
  const std::vector<std::uint8_t> from_board = Pattern(kCount, 11);
  std::vector<std::uint8_t> received;
  std::atomic<bool> write_failed{false};

  std::thread writer([&] {
    const auto deadline = steady_clock::now() + std::chrono::seconds(20);
    for (std::size_t at = 0; at < kCount && !write_failed;) {
      const auto len = static_cast<unsigned>(std::min<std::size_t>(100, kCount - at));
      const int n = port->write_some(to_board.data() + at, len);
      write_failed = n < 0 || steady_clock::now() > deadline;
      if (n > 0)
        at += static_cast<std::size_t>(n);
      else
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread reader([&] {
    const auto deadline = steady_clock::now() + std::chrono::seconds(20);
    std::uint8_t buf[97];
    while (received.size() < kCount && steady_clock::now() < deadline) {
      const int n = port->read_some(buf, sizeof buf);
      if (n > 0)
        received.insert(received.end(), buf, buf + n);
      else
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::uint8_t> on_board;
  for (std::size_t at = 0; at < kCount; at += 1000) {
    pty_.send(std::vector<std::uint8_t>(from_board.begin() + at,
                                        from_board.begin() + std::min(at + 1000, kCount)));
    const auto got = pty_.receive(kCount, milliseconds(1));
    on_board.insert(on_board.end(), got.begin(), got.end());
  }
  const auto rest = pty_.receive(kCount - on_board.size(), milliseconds(10000));
  on_board.insert(on_board.end(), rest.begin(), rest.end());
  writer.join();
  reader.join();

  EXPECT_FALSE(write_failed) << port->getLastErrorString();
  EXPECT_TRUE(on_board == to_board) << on_board.size() << " bytes reached the board";
  EXPECT_TRUE(received == from_board) << received.size() << " bytes reached the port";
}

}  // namespace
