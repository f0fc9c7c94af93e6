// How whole transfers over the serial port wait: they wake as soon as the
// device is ready, cost next to no processor time while it is not, and keep
// their deadlines when the far side is silent, stalls or hangs up.
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
#include "support/ProcessorUse.h"

namespace {

using mrl_test::Cost;
using mrl_test::CostMeter;
using mrl_test::CostsLikeWaiting;
using mrl_test::ErrorString;
using mrl_test::SerialPortTest;
using mrl_test::ThisThreadUse;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class SerialPortWait : public SerialPortTest {};

// Measures what transfer costs the calling thread while the far side, on a
// thread of its own, does far_side after delay.
Cost Measure(const std::function<void()>& transfer, milliseconds delay,
             const std::function<void()>& far_side) {
  std::thread other([&] {
    std::this_thread::sleep_for(delay);
    far_side();
  });
  const CostMeter meter(ThisThreadUse);
  transfer();
  const Cost cost = meter.cost();
  other.join();
  return cost;
}

// Names each case of a parameterised test after its name field.
struct ByName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

// The middle of the durations.
steady_clock::duration Median(std::vector<steady_clock::duration> times) {
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  return times[times.size() / 2];
}

// A board that answers every byte with the same byte: an exchange through the
// port takes little longer than one on the bare line, far less than the
// millisecond a pause between polls would add. The two kinds take turns, so
// whatever else runs on the machine slows both alike.
TEST_F(SerialPortWait, OneByteExchangesTakeLittleLongerThanOnTheBareLine) {
  constexpr int kExchanges = 200;
  auto port = OpenLine();
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop) {
      const std::vector<std::uint8_t> got = pty_.receive(1, milliseconds(20));
      if (!got.empty()) pty_.send(got);
    }
  });
  std::vector<steady_clock::duration> through_port;
  std::vector<steady_clock::duration> bare;
  for (int i = 0; i < kExchanges; ++i) {
    const auto out = static_cast<std::uint8_t>(i);
    std::uint8_t in = 0;
    auto start = steady_clock::now();
    const bool ok = !port->write_all(&out, 1, milliseconds(3000)).failed() &&
                    !port->read_all(&in, 1, milliseconds(3000)).failed();
    through_port.push_back(steady_clock::now() - start);
    EXPECT_TRUE(ok && in == out) << "exchange " << i << ": " << port->getLastErrorString();
    start = steady_clock::now();
    const bool bare_ok = pty_.bare_exchange(out);
    bare.push_back(steady_clock::now() - start);
    EXPECT_TRUE(bare_ok) << "bare exchange " << i;
    if (!ok || !bare_ok) break;
  }
  stop = true;
  echo.join();

  const auto port_median = std::chrono::duration_cast<microseconds>(Median(through_port));
  const auto bare_median = std::chrono::duration_cast<microseconds>(Median(bare));
  EXPECT_LT(port_median, bare_median + microseconds(500))
      << "medians of " << through_port.size() << " exchanges: " << port_median.count()
      << " us through the port, " << bare_median.count() << " us on the bare line";
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
  const Cost cost =
      Measure([&] { result = port->read_all(&in, 1, milliseconds(c.timeout_ms)); }, kIdle,
              [&] {
                if (c.byte_comes) pty_.send({0x5A});
              });

  EXPECT_EQ(static_cast<int>(result), c.code);
  if (c.byte_comes) {
    EXPECT_EQ(in, 0x5A);
  }
  const milliseconds waited = c.byte_comes ? kIdle : milliseconds(c.timeout_ms);
  EXPECT_GE(cost.wall, waited - milliseconds(50));
  EXPECT_LT(cost.wall, waited + milliseconds(1000));
  // A wait may look again now and then; one that polled every millisecond
  // would sleep a thousand times a second.
  EXPECT_TRUE(CostsLikeWaiting(cost, 1, 100));
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
  const Cost cost = Measure(
      [&] {
        result = c.write ? port->write_all(buf.data(), len, timeout)
                         : port->read_all(buf.data(), len, timeout);
      },
      kHangUpAfter, [&] { pty_.hang_up(); });

  EXPECT_EQ(static_cast<int>(result), c.code);
  EXPECT_EQ(port->getLastErrorString(), ErrorString(EIO));
  // It ends once the far side is gone, well before its deadline, and waits
  // for that without spinning.
  EXPECT_GE(cost.wall, kHangUpAfter - milliseconds(50));
  EXPECT_LT(cost.wall, timeout);
  EXPECT_TRUE(CostsLikeWaiting(cost, 1, 1500));
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
