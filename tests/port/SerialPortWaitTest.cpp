// How whole transfers over the serial port wait: they wake as soon as the
// device is ready, cost next to no processor time while it is not, and keep
// their deadlines when the far side is silent, stalls or hangs up.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

#include "SerialLine.h"

namespace {

using mrl_test::ErrorString;
using mrl_test::SerialPortTest;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class SerialPortWait : public SerialPortTest {};

// Processor time the calling thread has used so far.
microseconds ThreadCpuTime() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  const auto to_micro = [](const timeval& t) {
    return microseconds(t.tv_sec * 1'000'000LL + t.tv_usec);
  };
  return to_micro(usage.ru_utime) + to_micro(usage.ru_stime);
}

// Wall and processor time of one transfer on the calling thread.
struct Spent {
  steady_clock::duration wall{};
  microseconds cpu{};
};

std::ostream& operator<<(std::ostream& os, const Spent& spent) {
  return os << "processor " << spent.cpu.count() << " us in "
            << std::chrono::duration_cast<microseconds>(spent.wall).count() << " us";
}

// Measures transfer on the calling thread while the far side, on a thread of
// its own, does far_side after delay.
Spent Measure(const std::function<void()>& transfer, milliseconds delay,
              const std::function<void()>& far_side) {
  std::thread other([&] {
    std::this_thread::sleep_for(delay);
    far_side();
  });
  const auto wall_start = steady_clock::now();
  const microseconds cpu_start = ThreadCpuTime();
  transfer();
  const Spent spent{steady_clock::now() - wall_start, ThreadCpuTime() - cpu_start};
  other.join();
  return spent;
}

// Names each case of a parameterised test after its name field.
struct ByName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

// A board that answers every byte with the same byte takes far less than the
// millisecond a pause between polls would cost per exchange.
TEST_F(SerialPortWait, OneByteExchangesTakeWellUnderAMillisecond) {
  constexpr int kExchanges = 200;
  auto port = OpenLine();
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop) {
      const std::vector<std::uint8_t> got = pty_.receive(1, milliseconds(20));
      if (!got.empty()) pty_.send(got);
    }
  });
  std::vector<steady_clock::duration> times;
  for (int i = 0; i < kExchanges; ++i) {
    const auto out = static_cast<std::uint8_t>(i);
    std::uint8_t in = 0;
    const auto start = steady_clock::now();
    const bool ok = !port->write_all(&out, 1, milliseconds(3000)).failed() &&
                    !port->read_all(&in, 1, milliseconds(3000)).failed();
    times.push_back(steady_clock::now() - start);
    EXPECT_TRUE(ok && in == out) << "exchange " << i << ": " << port->getLastErrorString();
    if (!ok) break;
  }
  stop = true;
  echo.join();

  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  EXPECT_LT(times[times.size() / 2], microseconds(500)) << "median of " << times.size();
}

struct IdleCase {
  const char* name;
  long long timeout_ms;
  bool byte_comes;  // the far side sends one byte after kIdle; else it stays silent
  int code;
};

void PrintTo(const IdleCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr milliseconds kIdle{2000};

class SerialPortIdle : public SerialPortTest, public ::testing::WithParamInterface<IdleCase> {};

// A transfer waiting for a silent board, with or without a deadline, uses
// almost no processor time, and still ends at its deadline.
TEST_P(SerialPortIdle, WaitsWithoutUsingTheProcessor) {
  const IdleCase& c = GetParam();
  auto port = OpenLine();
  std::uint8_t in = 0;
  qmx::GenericPort::TransferResult result = qmx::Error::None{};
  const Spent spent =
      Measure([&] { result = port->read_all(&in, 1, milliseconds(c.timeout_ms)); }, kIdle,
              [&] {
                if (c.byte_comes) pty_.send({0x5A});
              });

  EXPECT_EQ(static_cast<int>(result), c.code);
  if (c.byte_comes) {
    EXPECT_EQ(in, 0x5A);
  }
  const milliseconds waited = c.byte_comes ? kIdle : milliseconds(c.timeout_ms);
  EXPECT_GE(spent.wall, waited - milliseconds(50));
  EXPECT_LT(spent.wall, waited + milliseconds(1000));
  EXPECT_LT(spent.cpu * 100, spent.wall) << spent;
}

INSTANTIATE_TEST_SUITE_P(SilentBoard, SerialPortIdle,
                         ::testing::Values(IdleCase{"NoDeadline", 0, true, 0},
                                           IdleCase{"Deadline3000", 3000, true, 0},
                                           IdleCase{"SilentUntilDeadline", 2000, false, 4}),
                         ByName());

struct HangUpCase {
  const char* name;
  bool write;  // write 1 MiB that the far side never reads; else read one byte
  long long timeout_ms;
  int code;
};

void PrintTo(const HangUpCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr milliseconds kHangUpAfter{200};

class SerialPortHangUp : public SerialPortTest, public ::testing::WithParamInterface<HangUpCase> {};

// A board that goes away in the middle of a transfer ends it with the right
// code without keeping a core busy, and the port's error text names the hang-up.
TEST_P(SerialPortHangUp, EndsWithoutSpinning) {
  const HangUpCase& c = GetParam();
  auto port = OpenLine();
  std::vector<std::uint8_t> buf(c.write ? 1u << 20 : 1u, 0x55);
  const auto len = static_cast<unsigned>(buf.size());
  const milliseconds timeout(c.timeout_ms);
  qmx::GenericPort::TransferResult result = qmx::Error::None{};
  const Spent spent = Measure(
      [&] {
        result = c.write ? port->write_all(buf.data(), len, timeout)
                         : port->read_all(buf.data(), len, timeout);
      },
      kHangUpAfter, [&] { pty_.hang_up(); });

  EXPECT_EQ(static_cast<int>(result), c.code);
  EXPECT_EQ(port->getLastErrorString(), ErrorString(EIO));
  // It ends once the far side is gone, well before its deadline.
  EXPECT_GE(spent.wall, kHangUpAfter - milliseconds(50));
  EXPECT_LT(spent.wall, timeout);
  // A loop that spins would use about all of its wall time.
  EXPECT_LT(spent.cpu * 5, spent.wall) << spent;
}

INSTANTIATE_TEST_SUITE_P(FarSideGone, SerialPortHangUp,
                         ::testing::Values(HangUpCase{"Read", false, 3000, 2},
                                           HangUpCase{"Write", true, 3000, 3}),
                         ByName());

// A board that stops taking bytes cannot hold a write beyond its deadline.
TEST_F(SerialPortWait, StalledWriteEndsAtItsDeadline) {
  constexpr milliseconds kTimeout{200};
  auto port = OpenLine();
  const std::vector<std::uint8_t> block(1u << 20, 0x55);
  const auto start = steady_clock::now();
  const auto result = port->write_all(block.data(), static_cast<unsigned>(block.size()), kTimeout);
  const auto elapsed = steady_clock::now() - start;

  EXPECT_EQ(static_cast<int>(result), 4);
  EXPECT_GE(elapsed, kTimeout);
  EXPECT_LT(elapsed, kTimeout + milliseconds(200));
}

}  // namespace
