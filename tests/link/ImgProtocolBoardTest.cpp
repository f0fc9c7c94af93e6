// The loader image's command protocol against the simulated board, through the
// serial port.
#include <gtest/gtest.h>

#include <sstream>

#include "BoardLink.h"
#include "VerboseCapture.h"
#include "link/ImgProtocol.h"
#include "link/LoaderCrc.h"

namespace {

using mrl_test::BoardConfig;
using mrl_test::BoardLink;
using mrl_test::BoardRecord;
using mrl_test::Program;
using mrl_test::Running;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t len, unsigned seed = 0) {
  Bytes bytes(len);
  for (std::size_t i = 0; i < len; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What one operation told the user.
struct Captured {
  std::string out;
  std::string err;
};
template <typename Operation>
Captured Capture(BoardLink& link, Operation operation) {
  link.console.Clear();
  operation();
  return {link.console.out(), link.console.err()};
}

class ImgProtocolBoard : public ::testing::Test {
 protected:
  explicit ImgProtocolBoard(BoardConfig config = Running(Program::kLoader),
                            milliseconds timeout = milliseconds(3000))
      : link(std::move(config), timeout) {}

  BoardLink link;
  ImgProtocol img{link.protocol};
  VerboseCapture vout;
  std::ostringstream out;
};

TEST_F(ImgProtocolBoard, DownloadThenExtractRoundTrip) {
  const Bytes image = Pattern(3000);
  mrl::Result result = qmx::Error::None{};
  const Captured c = Capture(link, [&] { result = img.DownloadFile(image.data(), 3000, 16, out); });
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(c.out, "Starting file download to Quarn2.\nDownload in progress.\n");
  EXPECT_EQ(out.str(), "Download succeeded!\n");
  const Bytes eeprom = link.board.eeprom();
  EXPECT_EQ(Bytes(eeprom.begin() + 16, eeprom.begin() + 3016), image);
  EXPECT_TRUE(Contains(vout.str(),
                       "Waiting for START...\nReceived START. Sending command.\n"
                       "Waiting for ACK...\n"
                       "Transmitting length.\nAwaiting response with correct length.\n"
                       "Transmitting offset.\nAwaiting response with correct offset.\n"
                       "Sending data: 0% done\rSending data: 1% done\r"));
  EXPECT_TRUE(Contains(vout.str(),
                       "Sending data: 100% done\rSending data: 100% done\n"
                       "Awaiting remote checksum.\n"));

  Bytes back(3000);
  const Captured e = Capture(link, [&] { result = img.ExtractImage(back.data(), 3000, 16); });
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(back, image);
  EXPECT_EQ(e.out, "Beginning image extraction...\n");
  const BoardRecord record = link.board.record();
  ASSERT_EQ(record.commands.size(), 2u);
  EXPECT_EQ(record.commands[0].command, 1);
  EXPECT_EQ(record.commands[0].items, (std::vector<std::uint16_t>{1500, 16}));
  EXPECT_EQ(record.commands[1].command, 2);
}

TEST_F(ImgProtocolBoard, EmptyDownloadChecksTheInitialCrc) {
  mrl::Result result = qmx::Error::None{};
  Capture(link, [&] { result = img.DownloadFile(nullptr, 0, 0, out); });
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_TRUE(Contains(vout.str(),
                       "Sending data: 0% done\rSending data: 100% done\n"
                       "Awaiting remote checksum.\n"
                       "Remote Checksum: 0x1d0f\nLocal Checksum: 0x1d0f\n"));
}

TEST_F(ImgProtocolBoard, DownloadAt32BitOffsetGoesToFlash) {
  EXPECT_FALSE(img.SetFlashMode().failed());
  const Bytes image = Pattern(100, 7);
  mrl::Result result = qmx::Error::None{};
  Capture(link, [&] { result = img.DownloadFile24Bit(image.data(), 100, 0x10000, out); });
  ASSERT_FALSE(result.failed()) << result.msg();
  const BoardRecord record = link.board.record();
  ASSERT_EQ(record.commands.size(), 2u);
  EXPECT_EQ(record.commands[1].command, 7);
  // Each item arrived most significant byte first.
  EXPECT_EQ(record.commands[1].items, (std::vector<std::uint16_t>{0x0032, 0x0001, 0x0000}));
  EXPECT_EQ(link.board.flash(0x10000, 100), image);
  EXPECT_TRUE(Contains(vout.str(), "Sending Set Flash Mode command...\n"));
}

TEST_F(ImgProtocolBoard, IS2023PacketsAndExpandedCrc) {
  const Bytes image = Pattern(160, 3);
  mrl::Result result = qmx::Error::None{};
  const Captured c =
      Capture(link, [&] { result = img.IS2023Load(image.data(), 160, 0x0200, 80, out); });
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(out.str(), "Download succeeded!\n");
  EXPECT_EQ(c.out, "Starting file download to Quarn2.\nDownload in progress.\n");
  const BoardRecord record = link.board.record();
  EXPECT_EQ(record.is2023_image, image);
  EXPECT_EQ(record.is2023_offset, 0x0200);
  EXPECT_EQ(record.commands[0].items, (std::vector<std::uint16_t>{0x0200, 160, 80}));
  EXPECT_TRUE(Contains(vout.str(), "Transmitting packet size.\n"));
  EXPECT_TRUE(Contains(vout.str(), "Sending data: 50% done\rSending data: 100% done\r"));
}

TEST_F(ImgProtocolBoard, IS2023RefusesAPacketSizeOfZero) {
  EXPECT_EQ(static_cast<int>(img.IS2023Load(nullptr, 0, 0, 0, out)), 1);
  EXPECT_TRUE(link.board.record().commands.empty());
}

TEST_F(ImgProtocolBoard, EepromSizeEraseAndReset) {
  EXPECT_FALSE(img.CheckEepromSize().failed());
  EXPECT_FALSE(img.EraseImage().failed());
  EXPECT_FALSE(img.Reset().failed());
  EXPECT_TRUE(Contains(vout.str(), "Sending Erase Image command...\n"));
  EXPECT_TRUE(Contains(vout.str(), "Sending Reset command...\n"));
  ASSERT_TRUE(link.board.WaitUntil(
      [](const BoardRecord& r) { return r.running == Program::kBootMonitor; }));
  const BoardRecord record = link.board.record();
  EXPECT_EQ(record.erases, 1u);
  EXPECT_EQ(record.resets, 1u);
}

TEST_F(ImgProtocolBoard, HwidOfABoardWithoutOneIsAllZero) {
  const mrl::HwidResult hwid = img.GetHWID(false, false);
  ASSERT_EQ(hwid.index(), 0u);
  EXPECT_EQ(std::get<0>(hwid), (HWID::Raw{0, 0, 0, 0}));
}

struct HwidCase {
  const char* name;
  bool missing_notice;
  bool accept_bad_banner;
  bool use_command_8;
  int code;  // 0: the words are read
};

void PrintTo(const HwidCase& c, std::ostream* os) {
  *os << c.name;
}

class ImgProtocolHwid : public ::testing::TestWithParam<HwidCase> {};

TEST_P(ImgProtocolHwid, ReadsTheWordsOrRefuses) {
  const HwidCase& c = GetParam();
  BoardConfig config = Running(Program::kLoader);
  config.hwid = {0x0102, 0x0304, 0x0506, 0x0708};
  config.faults.missing_notice = c.missing_notice;
  BoardLink link(config);
  ImgProtocol img(link.protocol);
  const mrl::HwidResult hwid = img.GetHWID(c.accept_bad_banner, c.use_command_8);
  if (c.code == 0) {
    ASSERT_EQ(hwid.index(), 0u) << std::get<1>(hwid).msg();
    EXPECT_EQ(std::get<0>(hwid), (HWID::Raw{0x0102, 0x0304, 0x0506, 0x0708}));
  } else {
    ASSERT_EQ(hwid.index(), 1u);
    EXPECT_EQ(static_cast<int>(std::get<1>(hwid)), c.code);
    EXPECT_EQ(std::get<1>(hwid).msg(), "No HWID found in device");
  }
  EXPECT_EQ(link.board.record().commands.at(0).command, c.use_command_8 ? 8 : 0);
}

INSTANTIATE_TEST_SUITE_P(Forms, ImgProtocolHwid,
                         ::testing::Values(HwidCase{"InformationBlock", false, false, false, 0},
                                           HwidCase{"MissingNotice", true, false, false, 3},
                                           HwidCase{"MissingNoticeAccepted", true, true, false, 0},
                                           HwidCase{"Command8", false, false, true, 0},
                                           HwidCase{"Command8IgnoresTheNotice", true, false, true,
                                                    0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Faults of the loader, each against a fresh board.
struct FaultCase {
  const char* name;
  void (*inject)(mrl_test::BoardFaults&);
  int code;
  const char* message;
  const char* stderr_text;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class ImgProtocolFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ImgProtocolFault, DownloadFailsWithItsCode) {
  const FaultCase& c = GetParam();
  BoardConfig config = Running(Program::kLoader);
  c.inject(config.faults);
  BoardLink link(config, milliseconds(300));
  ImgProtocol img(link.protocol);
  VerboseCapture vout;
  std::ostringstream out;
  const Bytes image = Pattern(2048);
  mrl::Result result = qmx::Error::None{};
  const Captured captured =
      Capture(link, [&] { result = img.DownloadFile(image.data(), 2048, 0, out); });
  EXPECT_EQ(static_cast<int>(result), c.code);
  EXPECT_EQ(result.msg(), c.message);
  EXPECT_EQ(captured.err, c.stderr_text);
  EXPECT_EQ(out.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ImgProtocolFault,
    ::testing::Values(
        FaultCase{"Nack", [](mrl_test::BoardFaults& f) { f.nack_commands = true; }, 5,
                  "Unexpected input from loader slave", "Loader image NACKed command.\n"},
        FaultCase{"NoAck", [](mrl_test::BoardFaults& f) { f.unacknowledged_commands = true; }, 5,
                  "Unexpected input from loader slave",
                  "Loader image did not acknowledge command.\n"},
        FaultCase{"WrongEcho", [](mrl_test::BoardFaults& f) { f.wrong_echo = true; }, 5,
                  "Unexpected input from loader slave",
                  "Received incorrect lengthfrom loader image!\n"},
        FaultCase{"WrongCrc", [](mrl_test::BoardFaults& f) { f.wrong_crc = true; }, 2,
                  "Invalid checksum", ""},
        FaultCase{"RefusedChunk", [](mrl_test::BoardFaults& f) { f.refused_transfer_chunk = 1; }, 3,
                  "Failed to write to port", ""},
        FaultCase{"Silent", [](mrl_test::BoardFaults& f) { f.silent = true; }, 4,
                  "Operation timed out", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImgProtocolBoardFaults, RefusedChunkEndsBeforeTheCrcPhase) {
  BoardConfig config = Running(Program::kLoader);
  config.faults.refused_transfer_chunk = 0;
  BoardLink link(config);
  ImgProtocol img(link.protocol);
  VerboseCapture vout;
  std::ostringstream out;
  const Bytes image = Pattern(100);
  mrl::Result result = qmx::Error::None{};
  Capture(link, [&] { result = img.DownloadFile(image.data(), 100, 0, out); });
  EXPECT_EQ(static_cast<int>(result), 3);
  EXPECT_FALSE(Contains(vout.str(), "Awaiting remote checksum."));
}

TEST(ImgProtocolBoardFaults, SmallEepromAnswersTheSizeTestWithCode4) {
  BoardConfig config = Running(Program::kLoader);
  config.faults.small_eeprom = true;
  BoardLink link(config);
  ImgProtocol img(link.protocol);
  const mrl::Result result = img.CheckEepromSize();
  EXPECT_EQ(static_cast<int>(result), 4);
  EXPECT_EQ(result.msg(), "EEPROM is too small to contain the image");
}

TEST(ImgProtocolBoardFaults, SilentLoaderHwidQueryTimesOut) {
  BoardConfig config = Running(Program::kLoader);
  config.faults.silent = true;
  BoardLink link(config, milliseconds(200));
  ImgProtocol img(link.protocol);
  const mrl::HwidResult hwid = img.GetHWID(false, true);
  ASSERT_EQ(hwid.index(), 1u);
  EXPECT_EQ(static_cast<int>(std::get<1>(hwid)), 4);
}

TEST(LoaderCrc, IsCrc16SpiFujitsu) {
  const std::string digits = "123456789";
  EXPECT_EQ(LoaderCrc(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0xE5CC);
  EXPECT_EQ(LoaderCrc(nullptr, 0), 0x1D0F);
}

}  // namespace
