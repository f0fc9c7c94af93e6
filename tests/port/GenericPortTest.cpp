#include "port/GenericPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "support/ScriptedPort.h"

namespace {

using mrl_test::ScriptedPort;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

enum class Direction { kRead, kWrite };

// Runs read_all or write_all over a buffer of len bytes.
qmx::GenericPort::TransferResult Transfer(ScriptedPort& port, Direction direction,
                                          std::vector<std::uint8_t>& buf, milliseconds timeout) {
  const auto len = static_cast<unsigned>(buf.size());
  return direction == Direction::kRead ? port.read_all(buf.data(), len, timeout)
                                       : port.write_all(buf.data(), len, timeout);
}

std::size_t Calls(const ScriptedPort& port, Direction direction) {
  return direction == Direction::kRead ? port.read_lengths.size() : port.write_lengths.size();
}

long long MillisecondsSince(steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// A scripted port on a clock of the test's own, which moves only as the port
// says: each some-operation takes call_time, each wait for readiness takes 1 ms
// (the base's pause, the port never becoming ready) or its limit when shorter,
// and a test lets more time pass with pass().
class ClockedPort : public ScriptedPort {
 public:
  std::chrono::microseconds call_time{100};
  std::vector<milliseconds> wait_limits;  // the limit of each wait_ready call

  void pass(steady_clock::duration time) { now_ += time; }
  steady_clock::duration elapsed() const { return now_ - steady_clock::time_point(); }

  int read_some(std::uint8_t* buf, unsigned len) override {
    pass(call_time);
    return ScriptedPort::read_some(buf, len);
  }
  int write_some(const std::uint8_t* data, unsigned len) override {
    pass(call_time);
    return ScriptedPort::write_some(data, len);
  }
  void wait_ready(Readiness, milliseconds limit) override {
    wait_limits.push_back(limit);
    pass(std::min(limit, milliseconds(1)));
  }

 protected:
  steady_clock::time_point now() const override { return now_; }

 private:
  steady_clock::time_point now_{};
};

TEST(GenericPortError, MessagesByCode) {
  for (int code = 0; code < 256; ++code) {
    const qmx::GenericPort::Error error(static_cast<std::uint8_t>(code));
    const char* expected = code == 2   ? "Failed to read from port"
                           : code == 3 ? "Failed to write to port"
                           : code == 4 ? "Operation timed out"
                                       : "Could not open port";
    EXPECT_EQ(static_cast<int>(error), code);
    EXPECT_EQ(error.msg(), expected) << "code " << code;
  }
}

TEST(GenericPort, BaseCommandChannelRefuses) {
  ScriptedPort port;
  EXPECT_EQ(port.write_command(std::uint8_t{0x41}), -1);
  std::uint8_t bytes[] = {1, 2};
  EXPECT_EQ(port.write_command(bytes, 2), -1);
}

struct FailureCase {
  Direction direction;
  std::deque<int> script;  // results of the some-operation, the last one failing
  long long timeout_ms;
  int code;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.script.size() << " calls";
}

class TransferFailure : public ::testing::TestWithParam<FailureCase> {};

// A failing some-operation ends the transfer at once, whatever the timeout,
// and leaves the bytes already moved where they are.
TEST_P(TransferFailure, EndsAtOnceWithItsCode) {
  const FailureCase& c = GetParam();
  ScriptedPort port;
  port.feed({0xA1, 0xA2, 0xA3});
  (c.direction == Direction::kRead ? port.read_script : port.write_script) = c.script;
  std::vector<std::uint8_t> buf(6, 0);
  if (c.direction == Direction::kWrite) buf = {1, 2, 3, 4, 5, 6};

  const auto start = steady_clock::now();
  const auto result = Transfer(port, c.direction, buf, milliseconds(c.timeout_ms));

  ASSERT_TRUE(result.failed());
  EXPECT_EQ(static_cast<int>(result), c.code);
  EXPECT_EQ(Calls(port, c.direction), c.script.size());
  EXPECT_LT(MillisecondsSince(start), 1000);
  const unsigned moved = c.script.size() == 1 ? 0 : static_cast<unsigned>(c.script.front());
  if (c.direction == Direction::kRead) {
    const std::vector<std::uint8_t> expected = {0xA1, 0xA2, 0xA3};
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + moved, expected.begin()));
  } else {
    EXPECT_EQ(port.written, std::vector<std::uint8_t>(buf.begin(), buf.begin() + moved));
  }
}

INSTANTIATE_TEST_SUITE_P(Codes2And3, TransferFailure,
                         ::testing::Values(FailureCase{Direction::kRead, {-1}, 0, 2},
                                           FailureCase{Direction::kRead, {-1}, 5, 2},
                                           FailureCase{Direction::kRead, {-1}, 3000, 2},
                                           FailureCase{Direction::kRead, {2, -1}, 3000, 2},
                                           FailureCase{Direction::kRead, {2, -7}, 0, 2},
                                           FailureCase{Direction::kWrite, {-1}, 0, 3},
                                           FailureCase{Direction::kWrite, {-1}, 5, 3},
                                           FailureCase{Direction::kWrite, {-1}, 3000, 3},
                                           FailureCase{Direction::kWrite, {3, -1}, 3000, 3},
                                           FailureCase{Direction::kWrite, {3, -7}, 0, 3}),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                           const FailureCase& c = info.param;
                           return std::string(c.direction == Direction::kRead ? "Read" : "Write") +
                                  "After" + std::to_string(c.script.size() - 1) + "CallsWithin" +
                                  std::to_string(c.timeout_ms) + "ms";
                         });

// A length of 0 succeeds after exactly one call asking for 0 bytes.
TEST(GenericPort, LengthZeroMakesOneCall) {
  for (Direction direction : {Direction::kRead, Direction::kWrite}) {
    for (long long timeout : {0, 5, 3000}) {
      ScriptedPort port;
      std::vector<std::uint8_t> empty;
      EXPECT_FALSE(Transfer(port, direction, empty, milliseconds(timeout)).failed());
      const auto& lengths = direction == Direction::kRead ? port.read_lengths : port.write_lengths;
      EXPECT_EQ(lengths, std::vector<unsigned>{0}) << "timeout " << timeout;
    }
  }
}

// Partial moves continue from where the last call stopped.
TEST(GenericPort, PiecesAddUpInOrder) {
  ScriptedPort port;
  port.feed({10, 11, 12, 13});
  port.read_script = {1, 0, 2, 1};
  std::vector<std::uint8_t> in(4, 0);
  ASSERT_FALSE(Transfer(port, Direction::kRead, in, milliseconds(3000)).failed());
  EXPECT_EQ(in, (std::vector<std::uint8_t>{10, 11, 12, 13}));
  EXPECT_EQ(port.read_lengths, (std::vector<unsigned>{4, 3, 3, 1}));

  port.write_script = {1, 0, 2, 1};
  std::vector<std::uint8_t> out = {20, 21, 22, 23};
  ASSERT_FALSE(Transfer(port, Direction::kWrite, out, milliseconds(0)).failed());
  EXPECT_EQ(port.written, out);
  EXPECT_EQ(port.write_lengths, (std::vector<unsigned>{4, 3, 3, 1}));
}

// Without a deadline the transfer keeps polling, once a millisecond, however
// long the port stays silent.
TEST(GenericPort, TimeoutZeroHasNoDeadline) {
  for (Direction direction : {Direction::kRead, Direction::kWrite}) {
    ScriptedPort port;
    constexpr int kSilentCalls = 60;
    (direction == Direction::kRead ? port.read_script : port.write_script) =
        std::deque<int>(kSilentCalls, 0);
    port.feed({7, 8});
    std::vector<std::uint8_t> buf = {7, 8};

    const auto start = steady_clock::now();
    EXPECT_FALSE(Transfer(port, direction, buf, milliseconds(0)).failed());
    EXPECT_EQ(Calls(port, direction), kSilentCalls + 1u);
    EXPECT_GE(MillisecondsSince(start), kSilentCalls);
  }
}

// The base waits for readiness by pausing a millisecond: not at once, and not
// for its whole limit.
TEST(GenericPort, BaseWaitPausesAMillisecond) {
  ScriptedPort port;
  const auto start = steady_clock::now();
  port.wait_ready(qmx::GenericPort::Readiness::kInput, milliseconds(10000));
  const auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(1));
  EXPECT_LT(elapsed, milliseconds(5000));
}

// A port that never delivers times out at the deadline, waiting for it between
// calls meanwhile, never past the deadline: with the base's pause of a
// millisecond, one call a millisecond.
TEST(GenericPort, TimeoutOf3000PollsEveryMillisecond) {
  ClockedPort port;
  port.call_time = std::chrono::microseconds(0);
  std::vector<std::uint8_t> buf(1);
  const auto result = Transfer(port, Direction::kRead, buf, milliseconds(3000));

  ASSERT_TRUE(result.failed());
  EXPECT_EQ(static_cast<int>(result), 4);
  EXPECT_EQ(result.msg(), "Operation timed out");
  EXPECT_EQ(port.elapsed(), milliseconds(3000));
  EXPECT_EQ(port.read_lengths.size(), 3000u);
  ASSERT_EQ(port.wait_limits.size(), 3000u);
  for (std::size_t i = 0; i < port.wait_limits.size(); ++i) {
    const milliseconds left(3000 - static_cast<long long>(i));
    EXPECT_EQ(port.wait_limits[i], std::min(left, milliseconds(100))) << "wait " << i;
  }
}

// Short timeouts poll back to back, never waiting, until that much time has
// passed, and then time out.
TEST(GenericPort, TimeoutsOf1To9PollWithoutPause) {
  for (int timeout = 1; timeout <= 9; ++timeout) {
    for (Direction direction : {Direction::kRead, Direction::kWrite}) {
      ClockedPort port;
      port.write_script = std::deque<int>(1000, 0);  // the link takes nothing
      std::vector<std::uint8_t> buf(1);
      const auto result = Transfer(port, direction, buf, milliseconds(timeout));
      ASSERT_TRUE(result.failed()) << timeout << " ms";
      EXPECT_EQ(static_cast<int>(result), 4);
      EXPECT_TRUE(port.wait_limits.empty()) << timeout << " ms";
      // Each call takes 100 us: ten calls a millisecond, up to the deadline.
      EXPECT_EQ(Calls(port, direction), 10u * timeout) << timeout << " ms";
      EXPECT_EQ(port.elapsed(), milliseconds(timeout));
    }
  }
}

struct LateCase {
  long long timeout_ms;
  bool completes;  // whether the late call delivers the rest
};

void PrintTo(const LateCase& c, std::ostream* os) {
  *os << c.timeout_ms << " ms";
}

class DeadlinePassesDuringCall : public ::testing::TestWithParam<LateCase> {};

// Completion is tested before the clock: the call during which the deadline
// passed still completes the transfer; otherwise no further call is made.
TEST_P(DeadlinePassesDuringCall, CompletionWinsOverTheClock) {
  const LateCase& c = GetParam();
  ClockedPort port;
  port.feed({1});
  port.before_read = [&] {
    if (port.read_lengths.size() != 2) return;
    port.pass(milliseconds(c.timeout_ms + 5));
    port.feed(c.completes ? std::vector<std::uint8_t>{2, 3, 4} : std::vector<std::uint8_t>{2});
  };
  std::vector<std::uint8_t> buf(4);

  const auto result = Transfer(port, Direction::kRead, buf, milliseconds(c.timeout_ms));

  EXPECT_EQ(port.read_lengths, (std::vector<unsigned>{4, 3}));
  if (c.completes) {
    EXPECT_FALSE(result.failed());
    EXPECT_EQ(buf, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  } else {
    EXPECT_EQ(static_cast<int>(result), 4);
  }
}

INSTANTIATE_TEST_SUITE_P(ShortAndLongTimeouts, DeadlinePassesDuringCall,
                         ::testing::Values(LateCase{5, true}, LateCase{5, false},
                                           LateCase{50, true}, LateCase{50, false}),
                         [](const ::testing::TestParamInfo<LateCase>& info) {
                           return std::to_string(info.param.timeout_ms) + "ms" +
                                  (info.param.completes ? "Completes" : "TimesOut");
                         });

// A link that holds written bytes for a while: wait_sent answers the count
// still unsent from a script, one entry per call, the last entry repeating;
// while bytes are unsent it waits its whole limit, or a call's time for none.
class HoldingPort : public ClockedPort {
 public:
  std::deque<int> unsent_script = {0};
  std::vector<milliseconds> sent_limits;  // the limit of each wait_sent call

 protected:
  int wait_sent(milliseconds limit) override {
    sent_limits.push_back(limit);
    const int unsent = unsent_script.front();
    if (unsent_script.size() > 1) unsent_script.pop_front();
    if (unsent > 0) pass(std::max<steady_clock::duration>(limit, call_time));
    return unsent;
  }
};

struct SentCase {
  const char* name;
  long long timeout_ms;
  std::deque<int> unsent;
  int code;
  std::size_t calls;  // of wait_sent; 0 where it depends on the clock
};

void PrintTo(const SentCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteWaitsUntilSent : public ::testing::TestWithParam<SentCase> {};

// write_all succeeds only once the link has sent every byte; bytes still
// unsent at the deadline, or a link that cannot tell, fail the write.
TEST_P(WriteWaitsUntilSent, UnderTheTransferDeadline) {
  const SentCase& c = GetParam();
  HoldingPort port;
  port.unsent_script = c.unsent;
  std::vector<std::uint8_t> out = {1, 2, 3, 4};
  const milliseconds timeout(c.timeout_ms);

  const auto result = Transfer(port, Direction::kWrite, out, timeout);
  const auto elapsed = port.elapsed();

  EXPECT_EQ(static_cast<int>(result), c.code);
  EXPECT_EQ(port.written, out);
  if (c.calls != 0) {
    EXPECT_EQ(port.sent_limits.size(), c.calls);
  }
  if (c.code == 3 && c.unsent.back() > 0) {
    EXPECT_GE(elapsed, timeout);
  }
  EXPECT_LT(elapsed, timeout + milliseconds(1000));
  for (const milliseconds limit : port.sent_limits) {
    // Back to back for timeouts of 1 to 9 ms; otherwise a bounded wait.
    if (c.timeout_ms >= 1 && c.timeout_ms <= 9) {
      EXPECT_EQ(limit.count(), 0);
    } else {
      EXPECT_GT(limit.count(), 0);
      EXPECT_LE(limit, std::max(timeout, milliseconds(100)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HeldBytes, WriteWaitsUntilSent,
                         ::testing::Values(SentCase{"SentAtOnce", 3000, {0}, 0, 1},
                                           SentCase{"SentAfterTwoWaits", 3000, {3, 1, 0}, 0, 3},
                                           SentCase{"SentWithoutDeadline", 0, {2, 2, 0}, 0, 3},
                                           SentCase{"LinkCannotTell", 3000, {2, -1}, 3, 2},
                                           SentCase{"HeldPastTheDeadline", 50, {4}, 3, 0},
                                           SentCase{"HeldPastAShortDeadline", 5, {4}, 3, 0}),
                         [](const ::testing::TestParamInfo<SentCase>& info) {
                           return std::string(info.param.name);
                         });

// A write that fails before every byte was handed over does not wait for them to leave.
TEST(GenericPort, FailedHandOverWaitsForNothing) {
  HoldingPort port;
  port.write_script = {2, -1};
  std::vector<std::uint8_t> out = {1, 2, 3, 4};
  EXPECT_EQ(static_cast<int>(Transfer(port, Direction::kWrite, out, milliseconds(3000))), 3);
  EXPECT_TRUE(port.sent_limits.empty());
}

}  // namespace
