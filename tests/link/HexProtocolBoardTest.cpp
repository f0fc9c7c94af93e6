// The boot monitor's download protocol against the simulated board, through
// the serial port.
#include <gtest/gtest.h>

#include <sstream>

#include "BoardLink.h"
#include "VerboseCapture.h"
#include "link/HexProtocol.h"
#include "link/XipImageLoader.h"

namespace {

using mrl_test::BoardConfig;
using mrl_test::BoardLink;
using mrl_test::BoardRecord;
using mrl_test::BootDownload;
using mrl_test::Program;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t len) {
  Bytes bytes(len);
  for (std::size_t i = 0; i < len; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return bytes;
}

struct Download {
  mrl::Result result;
  std::string out;
  std::string stdout_text;
};

Download ResetAndDownload(BoardLink& link, const Bytes& image, HexProtocol::Speed speed,
                          bool wait_for_eeprom, unsigned reset_timeout = 5000) {
  HexProtocol hex(link.protocol, speed, reset_timeout);
  link.port.reset();
  std::ostringstream out;
  mrl::Result result =
      hex.DownloadFile(image.data(), static_cast<unsigned>(image.size()), wait_for_eeprom, out);
  return {result, out.str(), link.console.out()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(HexProtocolBoard, FastDownloadWithEepromWait) {
  BoardLink link;
  VerboseCapture vout;
  const Bytes image = Pattern(514);
  const Download d = ResetAndDownload(link, image, HexProtocol::Speed::kFast, true);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  EXPECT_EQ(d.out, "Download succeeded!\n");
  EXPECT_EQ(d.stdout_text,
            "Starting file download to Quarn2. You may need to reset the board.\n"
            "Download in progress.\n");
  const BoardRecord record = link.board.record();
  ASSERT_EQ(record.downloads.size(), 1u);
  EXPECT_FALSE(record.downloads[0].slow);
  EXPECT_EQ(record.downloads[0].image, image);
  EXPECT_EQ(record.downloads[0].answer, BootDownload::Answer::kAck);
  EXPECT_EQ(record.running, Program::kUserProgram);
  EXPECT_GE(record.resets, 1u);
  EXPECT_TRUE(Contains(vout.str(),
                       "Waiting for START...\nReceived START. Sending START.\n"
                       "Waiting for ACK...\nReceived ACK. Sending base address LSB.\n"
                       "Waiting for ACK...\nReceived ACK. Sending base address MSB.\n"
                       "Waiting for ACK...\nReceived ACK. Sending length LSB.\n"
                       "Waiting for ACK...\nReceived ACK. Sending length MSB.\n"
                       "Sending data: 0% done\rSending data: 99% done\r"
                       "Sending data: 100% done\rSending data: 100% done\n"
                       "Waiting for ACK...\nReceived ACK. Sending ACK.\n"
                       "Expecting checksum LSB.\nReceived checksum LSB. Sending ACK.\n"
                       "Expecting checksum MSB.\nReceived checksum MSB.\n"))
      << vout.str();
  EXPECT_TRUE(Contains(vout.str(),
                       "Valid checksum received. Sending ACK.\n"
                       "Waiting on Quarn2 to finalize EEPROM...\n"));
}

TEST(HexProtocolBoard, SlowDownloadRetriesARefusedChunkFromItsFirstByte) {
  BoardConfig config;
  config.faults.refused_chunk = 1;
  BoardLink link(config);
  VerboseCapture vout;
  const Bytes image = Pattern(600);
  const Download d = ResetAndDownload(link, image, HexProtocol::Speed::kSlow, false);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BootDownload download = link.board.record().downloads[0];
  EXPECT_TRUE(download.slow);
  EXPECT_EQ(download.refused_chunks, 1u);
  EXPECT_EQ(download.image, image);
  // The extra ACK wait of the slow speed follows the header.
  EXPECT_TRUE(Contains(vout.str(),
                       "Received ACK. Sending length MSB.\nWaiting for ACK...\n"
                       "Sending data: 0% done\rWaiting for ACK...\n"));
}

TEST(HexProtocolBoard, LoaderImageStartsAndCarriesItsWordCount) {
  BoardLink link;
  const Bytes& loader = xip_loader_hexes.at(ImgProtocol::CrystalFrequency::k24_576MHz);
  const Download d = ResetAndDownload(link, loader, HexProtocol::Speed::kFast, false);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  ASSERT_TRUE(
      link.board.WaitUntil([](const BoardRecord& r) { return r.running == Program::kLoader; }));
  // The board took 2 * (0x0D << 8 | 0x87) bytes, so the header carried 0x87 0x0D.
  EXPECT_EQ(link.board.record().downloads[0].image.size(), 6926u);
}

TEST(HexProtocolBoard, WrongChecksumIsNackedWithCode2) {
  BoardConfig config;
  config.faults.wrong_checksum = true;
  BoardLink link(config);
  VerboseCapture vout;
  const Download d = ResetAndDownload(link, Pattern(64), HexProtocol::Speed::kFast, true);
  EXPECT_EQ(static_cast<int>(d.result), 2);
  EXPECT_EQ(d.result.msg(), "Invalid checksum");
  EXPECT_EQ(d.out, "");
  EXPECT_TRUE(Contains(vout.str(), "Invalid checksum received. Sending NACK.\n"));
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  EXPECT_EQ(link.board.record().downloads[0].answer, BootDownload::Answer::kNack);
}

TEST(HexProtocolBoard, EmptyImage) {
  BoardLink link;
  VerboseCapture vout;
  const Download d = ResetAndDownload(link, {}, HexProtocol::Speed::kFast, true);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  EXPECT_TRUE(Contains(vout.str(), "Sending data: 0% done\rSending data: 100% done\n"));
  EXPECT_TRUE(Contains(vout.str(), "Remote Checksum: 0xd911\nLocal Checksum: 0xd911\n"));
  EXPECT_TRUE(link.board.record().downloads[0].image.empty());
}

TEST(HexProtocolBoard, StrayBytesBeforeEveryPromptAreDropped) {
  BoardConfig config;
  config.faults.stray_bytes = {0x00, 0x7F, 0x33};
  BoardLink link(config);
  const Bytes image = Pattern(700);
  const Download d = ResetAndDownload(link, image, HexProtocol::Speed::kFast, true);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  EXPECT_EQ(link.board.record().downloads[0].image, image);
}

TEST(HexProtocolBoard, SilentBoardTimesOutAtTheResetTimeout) {
  BoardConfig config;
  config.faults.silent = true;
  BoardLink link(config);
  const Download d = ResetAndDownload(link, Pattern(8), HexProtocol::Speed::kFast, false, 300);
  EXPECT_EQ(static_cast<int>(d.result), 4);
  EXPECT_EQ(std::get<1>(d.result).index(), 1u);
  EXPECT_EQ(d.result.msg(), "Operation timed out");
}

TEST(HexProtocolBoard, PassthroughHandsOverItsCommandsAndReachesTheBoardBehind) {
  BoardLink link;
  const Download d =
      ResetAndDownload(link, belto_ls_gx2_passthrough_hex, HexProtocol::Speed::kFast, false);
  ASSERT_FALSE(d.result.failed()) << d.result.msg();
  HexProtocol hex(link.protocol, HexProtocol::Speed::kFast, 5000);
  VerboseCapture vout;
  using Kind = BeltoLsInitPassthroughCommandKind;
  const mrl::Result confirmed =
      hex.ConfirmBeltoLsGx2({{Kind::kSetGpio, 0x83}, {Kind::kSetGpio, 0x08}, {Kind::kEnd, 0}});
  ASSERT_FALSE(confirmed.failed()) << confirmed.msg();
  EXPECT_EQ(vout.str(),
            "Waiting for ACK...\nReceived ACK. Waiting for Belto LS Passthrough to start.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Kind.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Arg.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Kind.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Arg.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Kind.\n"
            "Waiting for ACK...\nReceived ACK. Sending Belto LS Init Command Arg.\n");
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return r.passthrough_active; }));
  using Pair = std::pair<std::uint8_t, std::uint8_t>;
  EXPECT_EQ(link.board.record().passthrough_commands,
            (std::vector<Pair>{{1, 0x83}, {1, 0x08}, {2, 0}}));

  // The board behind waits in its boot monitor: a download without a reset reaches it.
  std::ostringstream out;
  const Bytes& loader = xip_loader_hexes.at(ImgProtocol::CrystalFrequency::k12_288MHz);
  const mrl::Result loaded = hex.DownloadFile(loader.data(), 6926, false, out);
  ASSERT_FALSE(loaded.failed()) << loaded.msg();
  EXPECT_TRUE(
      link.board.WaitUntil([](const BoardRecord& r) { return r.running == Program::kLoader; }));
}

}  // namespace
