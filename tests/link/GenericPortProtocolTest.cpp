#include "link/GenericPortProtocol.h"

#include <gtest/gtest.h>

#include "support/ConsoleCapture.h"

#include <chrono>

#include "VerboseCapture.h"
#include "support/ScriptedPort.h"

namespace {

using mrl_test::ScriptedPort;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// The port code carried by the exception that steps throws; 0 when none.
template <typename Steps>
int ThrownCode(Steps steps) {
  try {
    steps();
  } catch (const GenericPortProtocol::Exception& e) {
    return static_cast<int>(e.error());
  }
  return 0;
}

class GenericPortProtocolTest : public ::testing::Test {
 protected:
  ScriptedPort port;
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol{port, milliseconds(50), console.console()};
  VerboseCapture vout;
};

TEST_F(GenericPortProtocolTest, ExchangeDropsUnexpectedBytesAndNarratesOnce) {
  port.feed({0x00, 0x7F, 0x81, 0x55});
  protocol.byte_exchange_sequence(0x81, 0x42, "wait", "got it");
  EXPECT_EQ(vout.str(), "wait\ngot it\n");
  EXPECT_EQ(port.written, Bytes{0x42});
  EXPECT_EQ(port.pending(), 1u);  // nothing read beyond the expected byte
}

TEST_F(GenericPortProtocolTest, AnyByteExchangeReturnsTheFirstByte) {
  port.feed({0x7F, 0x81});
  EXPECT_EQ(protocol.byte_exchange_sequence(0x5A, "wait", "got it"), 0x7F);
  EXPECT_EQ(vout.str(), "wait\ngot it\n");
  EXPECT_EQ(port.written, Bytes{0x5A});
}

TEST_F(GenericPortProtocolTest, SilenceForTheWholeTimeoutThrowsTimeout) {
  EXPECT_EQ(ThrownCode([&] { protocol.byte_exchange_sequence(0x81, 0x81, "w", "r"); }), 4);
  EXPECT_EQ(vout.str(), "w\n");
  EXPECT_TRUE(port.written.empty());
}

// Each read of an exchange has its own deadline: a board that keeps sending
// other bytes keeps the exchange waiting far beyond one timeout.
TEST_F(GenericPortProtocolTest, StrayBytesKeepTheExchangeWaiting) {
  mrl_test::ConsoleCapture console;
  GenericPortProtocol slow_protocol(port, milliseconds(400), console.console());
  const auto start = steady_clock::now();
  auto last_stray = start;
  port.before_read = [&] {
    const auto now = steady_clock::now();
    if (now - start >= milliseconds(1000)) {
      port.feed({0x81});
    } else if (now - last_stray >= milliseconds(40)) {
      port.feed({0x11});
      last_stray = now;
    }
  };
  slow_protocol.byte_exchange_sequence(0x81, 0x81, "w", "r", milliseconds(400));
  EXPECT_GE(steady_clock::now() - start, milliseconds(1000));
  EXPECT_EQ(port.written, Bytes{0x81});
}

TEST_F(GenericPortProtocolTest, TimeoutZeroWaitsWithoutDeadline) {
  mrl_test::ConsoleCapture console;
  GenericPortProtocol patient(port, milliseconds(0), console.console());
  const auto start = steady_clock::now();
  port.before_read = [&] {
    if (steady_clock::now() - start >= milliseconds(300) && port.pending() == 0) port.feed({0x81});
  };
  patient.byte_exchange_sequence(0x81, 0x18, "w", "r");
  EXPECT_EQ(port.written, Bytes{0x18});
}

TEST_F(GenericPortProtocolTest, WholeBufferReadHasOneDeadline) {
  // One byte per call, 128 calls of at least 1 ms each: longer than 50 ms.
  port.read_script.assign(128, 1);
  port.feed(Bytes(128, 0xAA));
  Bytes buf(128);
  EXPECT_EQ(ThrownCode([&] { protocol.read_all_with_throw(buf.data(), 128); }), 4);
}

TEST_F(GenericPortProtocolTest, FailingPortThrowsItsCode) {
  port.read_script = {-1};
  EXPECT_EQ(ThrownCode([&] { protocol.read_with_throw(); }), 2);
  port.write_script = {-1};
  EXPECT_EQ(ThrownCode([&] { protocol.write_with_throw(0x01); }), 3);
  port.write_script = {-1};
  const Bytes data{1, 2, 3};
  EXPECT_EQ(ThrownCode([&] { protocol.write_all_with_throw(data.data(), 3); }), 3);
}

TEST_F(GenericPortProtocolTest, TransfersMoveTheirBytes) {
  port.feed({0x10, 0x20, 0x30});
  EXPECT_EQ(protocol.read_with_throw(), 0x10);
  Bytes buf(2);
  protocol.read_all_with_throw(buf.data(), 2);
  EXPECT_EQ(buf, (Bytes{0x20, 0x30}));
  protocol.write_with_throw(0x01);
  protocol.write_all_with_throw(buf.data(), 2);
  EXPECT_EQ(port.written, (Bytes{0x01, 0x20, 0x30}));
}

TEST_F(GenericPortProtocolTest, MaybePrintPortErrorPrintsOnlyAPortText) {
  protocol.MaybePrintPortError();
  EXPECT_EQ(vout.str(), "");
  port.last_error = "Error 5: Access is denied.\r\n";
  protocol.MaybePrintPortError();
  EXPECT_EQ(vout.str(),
            "The port indicated the following error: \nError 5: Access is denied.\r\n\n");
}

TEST_F(GenericPortProtocolTest, GuardedTurnsAPortFailureIntoItsResult) {
  port.last_error = "gone";
  const mrl::Result result = protocol.Guarded<mrl::Result>([&]() -> mrl::Result {
    protocol.read_with_throw();
    return qmx::Error::None{};
  });
  ASSERT_TRUE(result.failed());
  EXPECT_EQ(std::get<1>(result).index(), 1u);
  EXPECT_EQ(static_cast<int>(result), 4);
  EXPECT_EQ(vout.str(), "The port indicated the following error: \ngone\n");
}

TEST(GenericPortProtocolStatics, ReverseEndiannessAndWhat) {
  EXPECT_EQ(GenericPortProtocol::reverse_endianness(0x1234), 0x3412);
  EXPECT_STREQ(GenericPortProtocol::Exception(qmx::GenericPort::Error(4)).what(),
               "Operation timed out");
  EXPECT_STREQ(GenericPortProtocol::Exception(qmx::GenericPort::Error(2)).what(),
               "Failed to read from port");
}

TEST(GenericPortProtocolStatics, Texts) {
  EXPECT_EQ(GenericPortProtocol::kStartWaitStr, "Waiting for START...");
  EXPECT_EQ(GenericPortProtocol::kStartRecvStr, "Received START.");
  EXPECT_EQ(GenericPortProtocol::kStartResp, "Sending START.");
  EXPECT_EQ(GenericPortProtocol::kAckWaitStr, "Waiting for ACK...");
  EXPECT_EQ(GenericPortProtocol::kAckRecvStr, "Received ACK.");
  EXPECT_EQ(GenericPortProtocol::kAckResp, "Sending ACK.");
  EXPECT_EQ(GenericPortProtocol::kDlStart, "Starting file download to Quarn2.");
  EXPECT_EQ(GenericPortProtocol::kDlGo, "Download in progress.");
  EXPECT_EQ(GenericPortProtocol::kDlMaybeReset, "You may need to reset the board.");
}

}  // namespace
