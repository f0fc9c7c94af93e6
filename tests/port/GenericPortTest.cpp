#include "port/GenericPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
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

// A port that never delivers times out at the deadline, polled about once a
// millisecond meanwhile.
TEST(GenericPort, TimeoutOf3000PollsEveryMillisecond) {
  ScriptedPort port;
  std::vector<std::uint8_t> buf(1);
  const auto start = steady_clock::now();
  const auto result = Transfer(port, Direction::kRead, buf, milliseconds(3000));
  const long long elapsed = MillisecondsSince(start);

  ASSERT_TRUE(result.failed());
  EXPECT_EQ(static_cast<int>(result), 4);
  EXPECT_EQ(result.msg(), "Operation timed out");
  EXPECT_GE(elapsed, 3000);
  EXPECT_LE(port.read_lengths.size(), 3001u);
  EXPECT_GE(port.read_lengths.size(), 300u);
}

// Short timeouts poll back to back and time out once that much time has passed.
TEST(GenericPort, TimeoutsOf1To9PollWithoutPause) {
  std::size_t calls = 0;
  long long total_ms = 0;
  for (int timeout = 1; timeout <= 9; ++timeout) {
    ScriptedPort port;
    std::vector<std::uint8_t> buf(1);
    const auto start = steady_clock::now();
    const auto result = Transfer(port, Direction::kRead, buf, milliseconds(timeout));
    const auto elapsed = steady_clock::now() - start;
    ASSERT_TRUE(result.failed());
    EXPECT_EQ(static_cast<int>(result), 4);
    EXPECT_GE(elapsed, milliseconds(timeout));
    calls += port.read_lengths.size();
    total_ms += timeout;
  }
  // Pausing a millisecond between polls would allow at most one call per
  // millisecond and one more per transfer.
  EXPECT_GT(calls, static_cast<std::size_t>(total_ms + 9));
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
  ScriptedPort port;
  port.feed({1});
  port.before_read = [&] {
    if (port.read_lengths.size() != 2) return;
    std::this_thread::sleep_for(milliseconds(c.timeout_ms + 5));
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
// while bytes are unsent it waits its whole limit.
class HoldingPort : public ScriptedPort {
 public:
  std::deque<int> unsent_script = {0};
  std::vector<milliseconds> sent_limits;  // the limit of each wait_sent call

 protected:
  int wait_sent(milliseconds limit) override {
    sent_limits.push_back(limit);
    const int unsent = unsent_script.front();
    if (unsent_script.size() > 1) unsent_script.pop_front();
    if (unsent > 0) std::this_thread::sleep_for(limit);
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

  const auto start = steady_clock::now();
  const auto result = Transfer(port, Direction::kWrite, out, timeout);
  const auto elapsed = steady_clock::now() - start;

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
