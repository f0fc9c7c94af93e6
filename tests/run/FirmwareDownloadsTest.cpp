// The firmware downloads against the simulated board: what reaches its memory,
// through which program, with which progress lines and size tests.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "FirmwareFixtures.h"
#include "ScratchFile.h"
#include "link/ImgProtocol.h"
#include "link/VerboseCapture.h"
#include "run/FirmwareActions.h"
#include "support/XipFixture.h"

namespace {

using mrl_test::BoardConfig;
using mrl_test::BoardRecord;
using mrl_test::BoardSession;
using mrl_test::Bytes;
using mrl_test::FailedWith;
using mrl_test::Pattern;
using mrl_test::Program;
using mrl_test::Running;

const HWID::Raw kBoardHwid{0x0102, 0x0304, 0x0506, 0x0708};
const HWID::Raw kNewHwid{0x1A2B, 0x3C4D, 0x5E6F, 0x7081};
const Bytes kBoardHwidBytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Bytes kNewHwidBytes{0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81};

// What the loader and the boot monitor say around one download.
const std::string kLoaderDownload =
    "Starting file download to Quarn2.\nDownload in progress.\nDownload succeeded!\n";
const std::string kBootDownload =
    "Starting file download to Quarn2. You may need to reset the board.\n"
    "Download in progress.\nDownload succeeded!\n";

Bytes EepromAt(const BoardSession& session, std::size_t offset, std::size_t len) {
  const Bytes eeprom = session.board.eeprom();
  return Bytes(eeprom.begin() + offset, eeprom.begin() + offset + len);
}

std::vector<std::uint8_t> CommandsOf(const BoardRecord& record) {
  std::vector<std::uint8_t> commands;
  for (const mrl_test::LoaderCommand& c : record.commands) commands.push_back(c.command);
  return commands;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

// A session whose boot monitor downloads cannot hang on a lost START.
struct Session : BoardSession {
  explicit Session(BoardConfig config) : BoardSession(std::move(config)) {
    state.reset_timeout = 5000;
    state.board_hwid = kBoardHwid;
    state.new_hwid = kNewHwid;
  }
};

// ---- Hex --------------------------------------------------------------------

struct HexCase {
  const char* name;
  bool ram_only;
  bool belto_ls_gx2;
  bool waits_for_eeprom;
  bool resets;
};

void PrintTo(const HexCase& c, std::ostream* os) {
  *os << c.name;
}

class HexDownloadTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexDownloadTest, SendsTheProgramToTheBootMonitor) {
  const HexCase& c = GetParam();
  Session session(Running(Program::kBootMonitor));
  mrl_test::VerboseCapture vout;
  session.state.firmware = qmx::File::Hex(Pattern(600));
  const mrl::Result result = mrl::DownloadHexImage(session.state, c.ram_only, c.belto_ls_gx2);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(), kBootDownload);
  ASSERT_TRUE(session.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BoardRecord record = session.board.record();
  EXPECT_EQ(record.downloads[0].image, Pattern(600));
  EXPECT_EQ(record.resets > 0, c.resets);
  EXPECT_EQ(vout.str().find("Waiting on Quarn2 to finalize EEPROM") != std::string::npos,
            c.waits_for_eeprom);
}

INSTANTIATE_TEST_SUITE_P(Variants, HexDownloadTest,
                         ::testing::Values(HexCase{"ToEeprom", false, false, true, true},
                                           HexCase{"RamOnly", true, false, false, true},
                                           HexCase{"BehindPassthrough", false, true, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexDownload, ChecksumMismatchIsTheResult) {
  BoardConfig config;
  config.faults.wrong_checksum = true;
  Session session(config);
  session.state.firmware = qmx::File::Hex(Pattern(64));
  const mrl::Result result = mrl::DownloadHexImage(session.state, false, false);
  EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kInvalidChecksum)) << result.msg();
}

// ---- Img --------------------------------------------------------------------

struct ImgCase {
  const char* name;
  std::size_t length;
  std::uint16_t offset;
  bool small_eeprom;
  std::vector<std::uint8_t> commands;
  bool too_small;  // the size test refuses the image
};

void PrintTo(const ImgCase& c, std::ostream* os) {
  *os << c.name;
}

class ImgDownloadTest : public ::testing::TestWithParam<ImgCase> {};

TEST_P(ImgDownloadTest, TestsTheEepromSizeForImagesEndingBeyond32KiB) {
  const ImgCase& c = GetParam();
  BoardConfig config = Running(Program::kLoader);
  config.faults.small_eeprom = c.small_eeprom;
  Session session(config);
  session.state.firmware = qmx::File::Img(Pattern(c.length));
  session.state.offset = qmx::File::Img::Address(c.offset);
  const mrl::Result result = mrl::DownloadImgImage(session.state, false, false);
  const BoardRecord record = session.board.record();
  EXPECT_EQ(CommandsOf(record), c.commands);
  if (c.too_small) {
    EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kEepromTooSmall)) << result.msg();
    EXPECT_TRUE(record.writes.empty());
    return;
  }
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(), kLoaderDownload);
  EXPECT_EQ(EepromAt(session, c.offset, c.length), Pattern(c.length));
}

constexpr std::uint8_t kDownload = 1;
constexpr std::uint8_t kSizeTest = 3;

INSTANTIATE_TEST_SUITE_P(
    Sizes, ImgDownloadTest,
    ::testing::Values(
        ImgCase{"FillsSmallEeprom", 32768, 0, true, {kDownload}, false},
        ImgCase{"PassesSmallEeprom", 32768, 2, true, {kSizeTest}, true},
        ImgCase{"PassesSmallEepromOnLargeOne", 32768, 2, false, {kSizeTest, kDownload}, false},
        ImgCase{"SmallAtOffset", 64, 0x100, true, {kDownload}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImgDownload, ImageInvalidAtItsOffsetIsRefusedBeforeAnythingIsSent) {
  Session session(Running(Program::kLoader));
  session.state.firmware = qmx::File::Img(Pattern(40000));
  session.state.offset = qmx::File::Img::Address(30000);
  const mrl::Result result = mrl::DownloadImgImage(session.state, false, false);
  EXPECT_EQ(mrl_test::TcfAlternative(result), 2);
  EXPECT_EQ(result.msg(), "Invalid memory address");
  EXPECT_TRUE(session.board.record().commands.empty());
}

TEST(ImgDownload, RfLoadSendsThePaddedImageThroughTheRfLoader) {
  Session session(Running(Program::kRfLoader));
  session.state.firmware = qmx::File::Img(Pattern(8194));
  ASSERT_FALSE(mrl::PadImageForRf(session.state).failed());
  const mrl::Result result = mrl::DownloadImgImage(session.state, true, false);
  ASSERT_FALSE(result.failed()) << result.msg();
  Bytes expected = Pattern(8194);
  expected.resize(16384, 0);
  ASSERT_TRUE(
      session.board.WaitUntil([](const BoardRecord& r) { return r.rf_image.size() == 16384; }));
  EXPECT_EQ(session.board.record().rf_image, expected);
  EXPECT_TRUE(session.board.record().commands.empty());
}

// ---- Xip --------------------------------------------------------------------

struct XipCase {
  const char* name;
  bool sethwid;
  bool flash;
};

void PrintTo(const XipCase& c, std::ostream* os) {
  *os << c.name;
}

class XipDownloadTest : public ::testing::TestWithParam<XipCase> {};

TEST_P(XipDownloadTest, WritesTheImageBoundToTheChosenHwidWithTheTargetsPages) {
  const XipCase& c = GetParam();
  Session session(Running(Program::kLoader));
  const qmx::File::Xip xip(ruvo_test::makeScenario(3).container);
  mrl_test::ScratchFile file(".xip");
  file.Write(xip.GetRaw());
  session.state.input_file = file.path();

  const mrl::Result result = qmx::Error::InOrder<mrl::Result>(
      [&] { return mrl::LoadXipFile(session.state); },
      [&] { return mrl::ConvertXipToImg(session.state, c.sethwid, c.flash); },
      [&] { return mrl::DownloadImgImage(session.state, false, false); });
  ASSERT_FALSE(result.failed()) << result.msg();

  const auto image = [&](const HWID::Raw& hwid, int page) {
    const auto img = xip.ToImg(hwid, page);
    return img.index() == 0 ? std::get<0>(img).GetRaw() : Bytes{};
  };
  const HWID::Raw& hwid = c.sethwid ? kNewHwid : kBoardHwid;
  const HWID::Raw& other_hwid = c.sethwid ? kBoardHwid : kNewHwid;
  const int page = c.flash ? 4096 : 64;
  const Bytes expected = image(hwid, page);
  ASSERT_FALSE(expected.empty());
  // Both choices show in the bytes.
  ASSERT_NE(expected, image(other_hwid, page));
  ASSERT_NE(expected, image(hwid, c.flash ? 64 : 4096));
  const BoardRecord record = session.board.record();
  ASSERT_EQ(record.writes.size(), 1u);
  EXPECT_EQ(record.writes[0].offset, 0u);
  EXPECT_EQ(record.writes[0].bytes, expected);
}

INSTANTIATE_TEST_SUITE_P(Choices, XipDownloadTest,
                         ::testing::Values(XipCase{"BoardHwidEeprom", false, false},
                                           XipCase{"NewHwidEeprom", true, false},
                                           XipCase{"BoardHwidFlash", false, true},
                                           XipCase{"NewHwidFlash", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- IS2023 -----------------------------------------------------------------

TEST(Is2023Download, SendsTheDataAtTheFilesOwnOffsetIn80BytePackets) {
  Session session(Running(Program::kLoader));
  session.state.firmware = qmx::File::IS2023(0x0200, Pattern(200));
  session.state.offset = qmx::File::Img::Address(0x1000);  // plays no part
  const mrl::Result result = mrl::DownloadIs2023Image(session.state);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(), kLoaderDownload);
  const BoardRecord record = session.board.record();
  EXPECT_EQ(record.is2023_image, Pattern(200));
  EXPECT_EQ(record.is2023_offset, 0x0200);
  ASSERT_EQ(record.commands.size(), 1u);
  EXPECT_EQ(record.commands[0].items, (std::vector<std::uint16_t>{0x0200, 200, 80}));
}

// ---- TBF --------------------------------------------------------------------

TBF::Entry EntryAt(std::uint16_t address, std::size_t len, unsigned seed) {
  return TBF::Entry(TBF::Entry::Address(address), qmx::File::Img(Pattern(len, seed)));
}

TEST(TbfDownload, ImagesInOrderThenTheHexProgramAfterAReset) {
  Session session(Running(Program::kLoader));
  session.state.firmware =
      TBF::Table({EntryAt(0x100, 100, 1), EntryAt(0x1000, 64, 2)}, qmx::File::Hex(Pattern(514)));
  const mrl::Result result = mrl::DownloadTbfTable(session.state, false, false);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(), "Loading image 1 of 3\n" + kLoaderDownload + "\n" +
                                       "Loading image 2 of 3\n" + kLoaderDownload + "\n" +
                                       "Loading image 3 of 3\n" + kBootDownload);
  ASSERT_TRUE(session.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BoardRecord record = session.board.record();
  EXPECT_EQ(CommandsOf(record), (std::vector<std::uint8_t>{kDownload, kDownload}));
  EXPECT_EQ(EepromAt(session, 0x100, 100), Pattern(100, 1));
  EXPECT_EQ(EepromAt(session, 0x1000, 64), Pattern(64, 2));
  EXPECT_EQ(record.downloads[0].image, Pattern(514));
  EXPECT_GE(record.resets, 1u);
}

TEST(TbfDownload, EmptyTableSaysSoAndSendsNothing) {
  Session session(Running(Program::kLoader));
  session.state.firmware = TBF::Table(std::vector<TBF::Entry>{});
  const mrl::Result result = mrl::DownloadTbfTable(session.state, false, false);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(),
            "The provided TBF file is devoid of any content. Not doing anything.\n");
  EXPECT_TRUE(session.board.record().commands.empty());
}

TEST(TbfDownload, FailedImageEndsTheTableThere) {
  BoardConfig config = Running(Program::kLoader);
  config.faults.wrong_crc = true;
  Session session(config);
  session.state.firmware = TBF::Table({EntryAt(0, 64, 1), EntryAt(0x200, 64, 2)});
  const mrl::Result result = mrl::DownloadTbfTable(session.state, false, false);
  EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kInvalidChecksum)) << result.msg();
  // No closing newline for the failed image, and nothing of the next one.
  EXPECT_EQ(session.console.out(),
            "Loading image 1 of 2\nStarting file download to Quarn2.\nDownload in progress.\n");
  EXPECT_EQ(session.board.record().commands.size(), 1u);
}

TEST(TbfDownload, HwidAloneIsOneImageAt110) {
  Session session(Running(Program::kLoader));
  session.state.firmware = qmx::File::Hex(Pattern(64));  // already downloaded
  const mrl::Result result = qmx::Error::InOrder<mrl::Result>(
      [&] { return mrl::AddHwidToTbf(session.state); },
      [&] { return mrl::DownloadTbfTable(session.state, false, false); });
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.console.out(), "Loading image 1 of 1\n" + kLoaderDownload + "\n");
  EXPECT_EQ(EepromAt(session, 110, 8), kNewHwidBytes);
  EXPECT_TRUE(session.board.record().downloads.empty());
}

struct TbfSizeCase {
  const char* name;
  TBF::Table table;
  std::vector<std::uint8_t> commands;
  bool too_small;
};

void PrintTo(const TbfSizeCase& c, std::ostream* os) {
  *os << c.name;
}

class TbfSizeTest : public ::testing::TestWithParam<TbfSizeCase> {};

TEST_P(TbfSizeTest, SmallEepromRefusesContentsEndingBeyond32KiB) {
  const TbfSizeCase& c = GetParam();
  BoardConfig config = Running(Program::kLoader);
  config.faults.small_eeprom = true;
  Session session(config);
  session.state.firmware = c.table;
  const mrl::Result result = mrl::DownloadTbfTable(session.state, false, false);
  const BoardRecord record = session.board.record();
  EXPECT_EQ(CommandsOf(record), c.commands);
  if (c.too_small) {
    EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kEepromTooSmall)) << result.msg();
    EXPECT_EQ(session.console.out(), "");
    EXPECT_TRUE(record.writes.empty());
    EXPECT_TRUE(record.downloads.empty());
  } else {
    EXPECT_FALSE(result.failed()) << result.msg();
  }
}

// Every word non-zero, so the program packs into 2 x (3 + 16384 + 2) EEPROM bytes.
const qmx::File::Hex kLargeProgram(Pattern(32768));

INSTANTIATE_TEST_SUITE_P(
    Contents, TbfSizeTest,
    ::testing::Values(
        TbfSizeCase{"LastImageEndsAt64KiB",
                    TBF::Table({EntryAt(0, 64, 1), EntryAt(0x8000, 0x8000, 2)}),
                    {kSizeTest},
                    true},
        TbfSizeCase{
            "LastImageEndsAt32KiB", TBF::Table({EntryAt(0x7F00, 0x100, 1)}), {kDownload}, false},
        TbfSizeCase{
            "HexProgramPacksBeyond32KiB", TBF::Table({}, kLargeProgram), {kSizeTest}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- HOFF -------------------------------------------------------------------

HOFF::Section SectionAt(unsigned offset, std::size_t len, unsigned seed) {
  return HOFF::Section{"s" + std::to_string(seed), offset, Pattern(len, seed)};
}

TEST(HoffDownload, EveryMatchingEntryGetsItsHwidSectionInEeprom) {
  Session session(Running(Program::kLoader));
  session.state.hoff_entry = "app";
  session.state.hoff_file.entries = {
      {"app", "eeprom", {SectionAt(0, 6, 1), SectionAt(0x10040, 4, 2), SectionAt(0x200, 8, 3)}},
      {"application", "eeprom", {SectionAt(0x300, 4, 4)}},
      {"app", "eeprom", {SectionAt(0x400, 2, 5)}}};
  const mrl::Result result = mrl::DownloadHoffEntry(session.state, false, false);
  ASSERT_FALSE(result.failed()) << result.msg();

  EXPECT_EQ(LinesStartingWith(session.console.out(), "Loading HOFF section"),
            (std::vector<std::string>{"Loading HOFF section (1/4)", "Loading HOFF section (2/4)",
                                      "Loading HOFF section (3/4)", "Loading HOFF section (4/4)",
                                      "Loading HOFF section (1/2)", "Loading HOFF section (2/2)"}));
  const std::string first_section = "Loading HOFF section (1/4)\n" + kLoaderDownload + "\n";
  EXPECT_EQ(session.console.out().substr(0, first_section.size()), first_section);
  const BoardRecord record = session.board.record();
  const std::vector<std::pair<std::uint32_t, Bytes>> expected{
      {0, Pattern(6, 1)},     {0x40, Pattern(4, 2)},  {0x200, Pattern(8, 3)},
      {110, kBoardHwidBytes}, {0x400, Pattern(2, 5)}, {110, kBoardHwidBytes}};
  ASSERT_EQ(record.writes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(record.writes[i].flash);
    EXPECT_EQ(record.writes[i].offset, expected[i].first);
    EXPECT_EQ(record.writes[i].bytes, expected[i].second);
  }
  const std::vector<HOFF::Entry>& entries = session.state.hoff_file.entries;
  EXPECT_EQ(entries[0].sections.size(), 4u);
  EXPECT_EQ(entries[0].sections.back(), (HOFF::Section{"hwid", 110, kBoardHwidBytes}));
  EXPECT_EQ(entries[1].sections.size(), 1u);
  EXPECT_EQ(entries[2].sections.size(), 2u);
}

TEST(HoffDownload, FlashTargetTakesFull32BitOffsetsAndTheNewHwid) {
  Session session(Running(Program::kLoader));
  ASSERT_FALSE(ImgProtocol(*session.state.port_protocol).SetFlashMode().failed());
  session.state.hoff_entry = "app";
  session.state.hoff_file.entries = {{"app", "flash", {SectionAt(0x10000, 6, 1)}}};
  const mrl::Result result = mrl::DownloadHoffEntry(session.state, true, true);
  ASSERT_FALSE(result.failed()) << result.msg();
  const BoardRecord record = session.board.record();
  constexpr std::uint8_t kSetFlashMode = 6;
  constexpr std::uint8_t kDownload24Bit = 7;
  EXPECT_EQ(CommandsOf(record),
            (std::vector<std::uint8_t>{kSetFlashMode, kDownload24Bit, kDownload24Bit}));
  EXPECT_EQ(session.board.flash(0x10000, 6), Pattern(6, 1));
  EXPECT_EQ(session.board.flash(110, 8), kNewHwidBytes);
}

}  // namespace
