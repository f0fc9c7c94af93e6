// The boot monitor's download protocol byte by byte, on the scripted port:
// the paths a pseudo-terminal cannot produce and the exact wire bytes.
#include <gtest/gtest.h>

#include "support/ConsoleCapture.h"

#include <chrono>
#include <optional>
#include <sstream>

#include "VerboseCapture.h"
#include "link/HexProtocol.h"
#include "support/ScriptedPort.h"

namespace {

using mrl_test::ScriptedPort;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = 0x5A;

// The board's replies for a whole fast download of image, fed at once.
Bytes FastReplies(const Bytes& image) {
  unsigned sum = static_cast<unsigned>(image.size() / 2) + 0xD911;
  for (std::size_t i = 0; i + 1 < image.size(); i += 2) sum += image[i] | image[i + 1] << 8;
  return {0x81,
          kAck,
          kAck,
          kAck,
          kAck,
          kAck,
          static_cast<std::uint8_t>(sum),
          static_cast<std::uint8_t>(sum >> 8)};
}

// Stalls every write of a whole chunk for two default timeouts, once.
class StallingPort : public ScriptedPort {
 public:
  explicit StallingPort(unsigned chunk_len) : chunk_len_(chunk_len) {}
  int write_some(const std::uint8_t* data, unsigned len) override {
    if (len == chunk_len_ && !stalled_) {
      const auto now = steady_clock::now();
      if (!stall_start_) stall_start_ = now;
      if (now - *stall_start_ < milliseconds(100)) return 0;
      stalled_ = true;
    }
    return ScriptedPort::write_some(data, len);
  }

 private:
  unsigned chunk_len_;
  std::optional<steady_clock::time_point> stall_start_;
  bool stalled_ = false;
};

class HexProtocolWireTest : public ::testing::Test {
 protected:
  mrl::Result Download(ScriptedPort& port, const Bytes& image, HexProtocol::Speed speed) {
    mrl_test::ConsoleCapture console;
    GenericPortProtocol protocol(port, milliseconds(50), console.console());
    HexProtocol hex(protocol, speed, 50);
    mrl::Result result =
        hex.DownloadFile(image.data(), static_cast<unsigned>(image.size()), false, out);
    return result;
  }

  std::ostringstream out;
  VerboseCapture vout;
};

TEST_F(HexProtocolWireTest, FastDownloadBytesOnTheWire) {
  ScriptedPort port;
  const Bytes image(6926, 0x11);
  port.feed(FastReplies(image));
  ASSERT_FALSE(Download(port, image, HexProtocol::Speed::kFast).failed());
  Bytes expected(5 + image.size() + 3, kAck);
  const Bytes header{0x81, 0x01, 0xC0, 0x87, 0x0D};
  std::copy(header.begin(), header.end(), expected.begin());
  std::copy(image.begin(), image.end(), expected.begin() + 5);
  EXPECT_EQ(port.written, expected);
  // 13 chunks of 512 and one of 270, each in one transfer.
  const std::vector<unsigned> chunks(port.write_lengths.begin() + 5, port.write_lengths.end() - 3);
  std::vector<unsigned> expected_chunks(13, 512);
  expected_chunks.push_back(270);
  EXPECT_EQ(chunks, expected_chunks);
  EXPECT_EQ(out.str(), "Download succeeded!\n");
}

TEST_F(HexProtocolWireTest, OddLengthSendsItsLastByteAlone) {
  ScriptedPort port;
  const Bytes image(513, 0x01);
  port.feed(FastReplies(image));
  ASSERT_FALSE(Download(port, image, HexProtocol::Speed::kFast).failed());
  EXPECT_EQ(std::vector<unsigned>(port.write_lengths.begin() + 5, port.write_lengths.end() - 3),
            (std::vector<unsigned>{512, 1}));
  EXPECT_NE(vout.str().find("Sending data: 0% done\rSending data: 99% done\r"
                            "Sending data: 100% done\rSending data: 100% done\n"),
            std::string::npos);
}

TEST_F(HexProtocolWireTest, SlowSpeedSendsBaseAddress0xC000) {
  ScriptedPort port;
  // Header, the extra ACK, one ACK per data byte, then the checksum phase for
  // the one word 0x0000: 1 + 0xD911.
  port.feed({0x81, kAck, kAck, kAck, kAck, kAck, kAck, kAck, kAck, 0x12, 0xD9});
  const Bytes image{0x00, 0x00};
  ASSERT_FALSE(Download(port, image, HexProtocol::Speed::kSlow).failed());
  EXPECT_EQ(port.written, (Bytes{0x81, 0x00, 0xC0, 0x01, 0x00, 0x00, 0x00, kAck, kAck, kAck}));
}

TEST_F(HexProtocolWireTest, FailureBudgetIsSharedByTheWholeImage) {
  ScriptedPort port;
  // Header, the extra ACK of the slow speed, then the first chunk succeeds
  // (2 bytes) and every later attempt is refused at its first byte.
  Bytes replies{0x81, kAck, kAck, kAck, kAck, kAck};
  replies.insert(replies.end(), 512, kAck);
  replies.insert(replies.end(), 254, 0x42);
  port.feed(replies);
  const Bytes image(1024, 0x22);
  const mrl::Result result = Download(port, image, HexProtocol::Speed::kSlow);
  EXPECT_EQ(static_cast<int>(result), 5);
  EXPECT_EQ(result.msg(), "Unexpected input from loader slave");
  // One successful chunk of 512 bytes, then 254 refused first bytes (the 255th
  // failure is the timeout of the attempt that finds no more replies).
  EXPECT_EQ(port.written.size(), 5u + 512 + 255);
  EXPECT_EQ(out.str(), "");
}

TEST_F(HexProtocolWireTest, FastChunkTimingOutOnWriteIsSentAgain) {
  StallingPort port(512);
  const Bytes image(1024, 0x33);
  port.feed(FastReplies(image));
  port.last_error = "stalled";
  const mrl::Result result = Download(port, image, HexProtocol::Speed::kFast);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(Bytes(port.written.begin() + 5, port.written.end() - 3), image);
  EXPECT_NE(vout.str().find("The port indicated the following error: \nstalled\n"),
            std::string::npos);
}

TEST_F(HexProtocolWireTest, OtherPortFailureInAChunkIsNotRetried) {
  ScriptedPort port;
  port.feed(FastReplies(Bytes(512, 0)));
  port.write_script = {1, 1, 1, 1, 1, -1};
  port.last_error = "gone";
  const mrl::Result result = Download(port, Bytes(512, 0), HexProtocol::Speed::kFast);
  EXPECT_EQ(static_cast<int>(result), 3);
  EXPECT_EQ(std::get<1>(result).index(), 1u);
  EXPECT_EQ(port.write_lengths.size(), 6u);
  // Printed by the chunk and once more by the download.
  const std::string text = "The port indicated the following error: \ngone\n";
  EXPECT_EQ(vout.str().find(text + text), vout.str().find(text));
}

struct TimeoutCase {
  const char* name;
  unsigned reset_timeout_ms;
  long long default_timeout_ms;
  long long start_after_ms;   // when START arrives; -1: never
  long long header_after_ms;  // when the rest of the replies arrive, counted from START; -1: never
  int code;                   // 0: the download succeeds
};

void PrintTo(const TimeoutCase& c, std::ostream* os) {
  *os << c.name;
}

class HexTimeouts : public HexProtocolWireTest,
                    public ::testing::WithParamInterface<TimeoutCase> {};

// The START exchange waits for the reset timeout (0: without deadline); the
// header and everything after it wait for the protocol's default timeout.
TEST_P(HexTimeouts, StartWaitsTheResetTimeoutAndTheRestTheDefault) {
  const TimeoutCase& c = GetParam();
  ScriptedPort port;
  const Bytes image(4, 0x21);
  Bytes rest = FastReplies(image);
  rest.erase(rest.begin());
  const auto start = steady_clock::now();
  std::optional<steady_clock::time_point> start_sent;
  port.before_read = [&] {
    const auto now = steady_clock::now();
    if (!start_sent && c.start_after_ms >= 0 && now - start >= milliseconds(c.start_after_ms)) {
      port.feed({0x81});
      start_sent = now;
    } else if (start_sent && c.header_after_ms >= 0 &&
               now - *start_sent >= milliseconds(c.header_after_ms)) {
      port.feed(rest);
      start_sent.reset();
    }
  };
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(c.default_timeout_ms), console.console());
  HexProtocol hex(protocol, HexProtocol::Speed::kFast, c.reset_timeout_ms);
  const mrl::Result result = hex.DownloadFile(image.data(), 4, false, out);
  EXPECT_EQ(static_cast<int>(result), c.code) << result.msg();
  // A wait bounded by the wrong one of the two timeouts would take 5 s.
  EXPECT_LT(steady_clock::now() - start, milliseconds(4000));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexTimeouts,
    ::testing::Values(TimeoutCase{"StartLaterThanTheDefault", 5000, 50, 300, 0, 0},
                      TimeoutCase{"StartNeverComes", 50, 5000, -1, -1, 4},
                      TimeoutCase{"HeaderAckNeverComes", 5000, 50, 0, -1, 4},
                      TimeoutCase{"HeaderAckLaterThanTheDefault", 50, 5000, 0, 300, 0},
                      TimeoutCase{"ResetTimeoutZeroWaitsForStart", 0, 50, 300, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The wait for the board to write its EEPROM drops other bytes and gives each
// read its own 10 s, however short the default timeout.
TEST_F(HexProtocolWireTest, EepromWaitOutlastsTheDefaultTimeout) {
  ScriptedPort port;
  const Bytes image(4, 0x21);
  port.feed(FastReplies(image));
  const std::size_t all_written = 5 + image.size() + 3;
  std::optional<steady_clock::time_point> acked;
  bool finalised = false;
  port.on_write = [&](const Bytes&) {
    if (port.written.size() == all_written) acked = steady_clock::now();
  };
  port.before_read = [&] {
    if (acked && !finalised && steady_clock::now() - *acked >= milliseconds(300)) {
      port.feed({0x00, 0x42, 0x5A, 0x81, 0x77});
      finalised = true;
    }
  };
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(50), console.console());
  HexProtocol hex(protocol, HexProtocol::Speed::kFast, 50);
  const mrl::Result result = hex.DownloadFile(image.data(), 4, true, out);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_TRUE(finalised);
  EXPECT_EQ(port.pending(), 1u) << "read on past the 0x81";
  EXPECT_EQ(port.written.size(), all_written);
  EXPECT_EQ(out.str(), "Download succeeded!\n");
  EXPECT_NE(vout.str().find("Valid checksum received. Sending ACK.\n"
                            "Waiting on Quarn2 to finalize EEPROM...\n"),
            std::string::npos);
}

TEST_F(HexProtocolWireTest, EmptyPassthroughListPerformsOnlyTheStartExchange) {
  ScriptedPort port;
  port.feed({0x00, 0x82});
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(50), console.console());
  HexProtocol hex(protocol, HexProtocol::Speed::kFast, 0);
  EXPECT_FALSE(hex.ConfirmBeltoLsGx2({}).failed());
  EXPECT_EQ(port.written, Bytes{0x82});
}

TEST_F(HexProtocolWireTest, PassthroughPortFailureIsTheResult) {
  ScriptedPort port;
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  HexProtocol hex(protocol, HexProtocol::Speed::kFast, 0);
  EXPECT_EQ(static_cast<int>(hex.ConfirmBeltoLsGx2({})), 4);
}

}  // namespace
