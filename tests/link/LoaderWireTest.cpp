// The loader image's and the RF loader's protocols byte by byte, on the
// scripted port.
#include <gtest/gtest.h>

#include "support/ConsoleCapture.h"

#include <sstream>

#include "VerboseCapture.h"
#include "link/ImgProtocol.h"
#include "link/LoaderCrc.h"
#include "link/RfLoaderProtocol.h"
#include "support/ScriptedPort.h"

namespace {

using mrl_test::ScriptedPort;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

struct ChunkCase {
  unsigned offset;
  unsigned len;
  std::vector<unsigned> chunks;
};

void PrintTo(const ChunkCase& c, std::ostream* os) {
  *os << c.offset << "+" << c.len;
}

class ImgChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ImgChunks, FirstChunkEndsOnA64ByteBoundary) {
  const ChunkCase& c = GetParam();
  const Bytes image(c.len, 0x5C);
  ScriptedPort port;
  Bytes replies{0x18, 0xA5};
  const std::uint16_t words = static_cast<std::uint16_t>(c.len / 2);
  replies.insert(replies.end(),
                 {static_cast<std::uint8_t>(words >> 8), static_cast<std::uint8_t>(words),
                  static_cast<std::uint8_t>(c.offset >> 8), static_cast<std::uint8_t>(c.offset)});
  for (std::size_t i = 0; i < c.chunks.size(); ++i) replies.insert(replies.end(), {0xA5, 0xA5});
  const std::uint16_t crc = LoaderCrc(image.data(), c.len);
  replies.insert(replies.end(),
                 {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
  port.feed(replies);
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(50), console.console());
  ImgProtocol img(protocol);
  std::ostringstream out;
  const mrl::Result result =
      img.DownloadFile(image.data(), c.len, static_cast<std::uint16_t>(c.offset), out);
  ASSERT_FALSE(result.failed()) << result.msg();
  // Command byte, two data items, then the chunks.
  const std::vector<unsigned> chunks(port.write_lengths.begin() + 3, port.write_lengths.end());
  EXPECT_EQ(chunks, c.chunks);
  EXPECT_EQ(Bytes(port.written.begin(), port.written.begin() + 5),
            (Bytes{0x01, replies[2], replies[3], replies[4], replies[5]}));
}

INSTANTIATE_TEST_SUITE_P(Offsets, ImgChunks,
                         ::testing::Values(ChunkCase{0, 3000, {1024, 1024, 952}},
                                           ChunkCase{16, 3000, {48, 1024, 1024, 904}},
                                           ChunkCase{110, 8, {8}}, ChunkCase{64, 1024, {1024}},
                                           ChunkCase{0, 0, {}}));

TEST(ImgWire, Command7ItemsGoMostSignificantByteFirst) {
  ScriptedPort port;
  port.feed({0x18, 0xA5, 0x00, 0x32, 0x00, 0x01, 0x00, 0x00});
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  ImgProtocol img(protocol);
  const Bytes image(100, 0);
  std::ostringstream out;
  // Ends in a timeout: no chunk is acknowledged.
  EXPECT_EQ(4, static_cast<int>(img.DownloadFile24Bit(image.data(), 100, 0x10000, out)));
  EXPECT_EQ(Bytes(port.written.begin(), port.written.begin() + 7),
            (Bytes{0x07, 0x00, 0x32, 0x00, 0x01, 0x00, 0x00}));
}

TEST(ImgWire, SwappedEchoFailsWithCode5) {
  ScriptedPort port;
  port.feed({0x18, 0xA5, 0x32, 0x00});  // "length" 0x0032 echoed swapped
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  ImgProtocol img(protocol);
  std::ostringstream out;
  const mrl::Result result = img.DownloadFile(Bytes(100).data(), 100, 0, out);
  EXPECT_EQ(console.err(), "Received incorrect lengthfrom loader image!\n");
  EXPECT_EQ(static_cast<int>(result), 5);
  EXPECT_EQ(std::get<1>(result).index(), 0u);
}

TEST(ImgWire, PortFailureDuringCommandIsTheResult) {
  ScriptedPort port;
  port.feed({0x18});
  port.write_script = {-1};
  port.last_error = "Error 5: Input/output error";
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  ImgProtocol img(protocol);
  VerboseCapture vout;
  const mrl::HwidResult hwid = img.GetHWID(false, false);
  ASSERT_EQ(hwid.index(), 1u);
  EXPECT_EQ(static_cast<int>(std::get<1>(hwid)), 3);
  EXPECT_EQ(std::get<1>(hwid).index(), 1u);
  EXPECT_NE(vout.str().find("The port indicated the following error: \nError 5"),
            std::string::npos);
}

TEST(RfWire, HwidPollPacket) {
  ScriptedPort port;
  port.feed({0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0x06, 0x34, 0x12, 0, 0, 0, 0, 0, 0});
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  RfLoaderProtocol rf(protocol);
  const mrl::HwidResult hwid = rf.GetHWID();
  ASSERT_EQ(hwid.index(), 0u);
  EXPECT_EQ(port.written, (Bytes{0x40, 0x00, 0xBF, 0x40, 0x00, 0xBF}));
  // Header and check bytes one at a time.
  EXPECT_EQ(port.write_lengths, (std::vector<unsigned>(6, 1)));
}

TEST(RfWire, DataAndStatusPackets) {
  ScriptedPort port;
  Bytes replies(64, 0x06);  // one answer per data packet
  for (int poll = 0; poll < 2; ++poll) replies.insert(replies.end(), {0x06, 0x00, 0x00, 0x00});
  port.feed(replies);
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  RfLoaderProtocol rf(protocol);
  const Bytes zeros(8192, 0);
  const mrl::Result result = rf.DownloadFile(zeros.data(), 8192);
  ASSERT_FALSE(result.failed()) << result.msg();
  Bytes packet{0x20, 0x80};
  packet.resize(130, 0);
  packet.push_back(0x5F);
  EXPECT_EQ(Bytes(port.written.begin(), port.written.begin() + 131), packet);
  EXPECT_EQ(port.write_lengths[2], 128u);  // the data in one transfer
  EXPECT_EQ(Bytes(port.written.end() - 6, port.written.end()),
            (Bytes{0x45, 0x00, 0xBA, 0x45, 0x00, 0xBA}));
  EXPECT_EQ(port.written.size(), 64u * 131 + 6);
}

TEST(RfWire, RefusesALengthThatIsNoWholeSection) {
  ScriptedPort port;
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, milliseconds(20), console.console());
  RfLoaderProtocol rf(protocol);
  const Bytes image(8191, 0);
  EXPECT_EQ(static_cast<int>(rf.DownloadFile(image.data(), 8191)), 1);
  EXPECT_TRUE(port.written.empty());
}

}  // namespace
