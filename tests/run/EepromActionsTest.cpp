// The EEPROM actions against the simulated board: size test, extract, clear
// and the flash erase.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "FirmwareFixtures.h"
#include "ScratchFile.h"
#include "file/HexFirmwareFile.h"
#include "file/TBF.h"
#include "link/ImgProtocol.h"
#include "run/FirmwareActions.h"

namespace {

using mrl_test::BoardConfig;
using mrl_test::BoardRecord;
using mrl_test::BoardSession;
using mrl_test::Bytes;
using mrl_test::FailedWith;
using mrl_test::Pattern;
using mrl_test::Program;
using mrl_test::Running;
using mrl_test::ScratchFile;
using mrl_test::TcfAlternative;

constexpr std::uint8_t kExtract = 2;

// A loader session whose EEPROM holds a pattern from 0 on.
struct PatternedBoard : BoardSession {
  explicit PatternedBoard(BoardConfig config = Running(Program::kLoader))
      : BoardSession(std::move(config)) {
    std::ostringstream out;
    const Bytes pattern = Pattern(0x200);
    EXPECT_FALSE(
        ImgProtocol(*state.port_protocol).DownloadFile(pattern.data(), 0x200, 0, out).failed());
    console.Clear();
  }
  std::size_t CommandsSoFar() const { return board.record().commands.size(); }
};

// ---- Size test --------------------------------------------------------------

struct SizeCase {
  const char* name;
  bool small_eeprom;
  bool silent;
  const char* out;
  const qmx::Error::Code* error;  // null: success
  const char* message;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.name;
}

class EepromSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(EepromSizeTest, SaysWhatTheEepromHolds) {
  const SizeCase& c = GetParam();
  BoardConfig config = Running(Program::kLoader);
  config.faults.small_eeprom = c.small_eeprom;
  config.faults.silent = c.silent;
  BoardSession session(config, std::chrono::milliseconds(300));
  const mrl::Result result = mrl::TestEepromSize(session.state);
  EXPECT_EQ(session.console.out(), c.out);
  if (c.error == nullptr) {
    EXPECT_FALSE(result.failed()) << result.msg();
  } else {
    EXPECT_EQ(static_cast<int>(result), static_cast<int>(*c.error));
    EXPECT_EQ(result.msg(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, EepromSizeTest,
    ::testing::Values(SizeCase{"Large", false, false, "EEPROM is 512kbit.\n", nullptr, ""},
                      SizeCase{"Small", true, false, "EEPROM is 256kbit.\n",
                               &mrl::SpecificError::kEepromTooSmall,
                               "EEPROM is too small to contain the image"},
                      // A timeout shares the code of the small EEPROM but tells nothing of it.
                      SizeCase{"Silent", false, true, "", &qmx::GenericPort::Error::kTimedOut,
                               "Operation timed out"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Extract ----------------------------------------------------------------

mrl::Result ExtractFromEeprom(mrl::RunState& state) {
  return mrl::ExtractEeprom(state, false);
}
mrl::Result ExtractFromFlash(mrl::RunState& state) {
  return mrl::ExtractEeprom(state, true);
}

TEST(ExtractEeprom, WritesExactlyTheBytesRead) {
  PatternedBoard session;
  ScratchFile file;
  file.Write(Pattern(100, 9));  // longer than what is extracted
  session.state.extract_file = file.path();
  session.state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(16);
  session.state.offset = qmx::File::Img::Address(0x100);
  const mrl::Result result = mrl::ExtractEeprom(session.state, false);
  ASSERT_FALSE(result.failed()) << result.msg();
  const Bytes pattern = Pattern(0x200);
  EXPECT_EQ(file.Read(), Bytes(pattern.begin() + 0x100, pattern.begin() + 0x110));
  const BoardRecord record = session.board.record();
  EXPECT_EQ(record.commands.back().command, kExtract);
  EXPECT_EQ(record.commands.back().items, (std::vector<std::uint16_t>{8, 0x100}));
}

TEST(ExtractEeprom, FailedReadLeavesAnExistingFileAsItWasAndCreatesNone) {
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "existing file" : "new name");
    BoardConfig config = Running(Program::kLoader);
    config.faults.wrong_crc = true;
    BoardSession session(config);
    ScratchFile file;
    if (existing) file.Write(Pattern(100, 9));
    session.state.extract_file = file.path();
    session.state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(16);
    const mrl::Result result = mrl::ExtractEeprom(session.state, false);
    EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kInvalidChecksum)) << result.msg();
    EXPECT_EQ(::access(file.path().c_str(), F_OK) == 0, existing);
    if (existing) {
      EXPECT_EQ(file.Read(), Pattern(100, 9));
    }
  }
}

struct UnwritableCase {
  const char* name;
  const char* path;
  bool reads_board;  // the file opened, so the board was read before the write failed
  const qmx::File::Common::Error* error;
  std::string err;  // what the action says on the console before
};

void PrintTo(const UnwritableCase& c, std::ostream* os) {
  *os << c.name;
}

class UnwritableExtractFile : public ::testing::TestWithParam<UnwritableCase> {};

// Which step failed, and never "Done image extraction!".
TEST_P(UnwritableExtractFile, FailsNamingTheOpenOrTheWrite) {
  const UnwritableCase& c = GetParam();
  PatternedBoard session;
  const std::size_t before = session.CommandsSoFar();
  session.state.extract_file = c.path;
  const mrl::Result result = mrl::ExtractEeprom(session.state, false);
  EXPECT_EQ(static_cast<int>(result), *c.error);
  EXPECT_EQ(result.msg(), c.error->msg());
  EXPECT_EQ(TcfAlternative(result), 0);
  EXPECT_EQ(session.CommandsSoFar() - before, c.reads_board ? 1u : 0u);
  EXPECT_EQ(session.console.out(), c.reads_board ? "Beginning image extraction...\n" : "");
  EXPECT_EQ(session.console.err(), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnwritableExtractFile,
    ::testing::Values(UnwritableCase{"MissingDirectory", "/nonexistent-mrl-dir/out.bin", false,
                                     &qmx::File::Common::Error::kCannotOpen, ""},
                      UnwritableCase{"FullDisk", "/dev/full", true,
                                     &qmx::File::Common::Error::kCannotWrite,
                                     "Writing the extracted bytes to /dev/full failed: No space "
                                     "left on device\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Clear and erase --------------------------------------------------------

TEST(ClearEeprom, WritesErasedBytesOverTheRange) {
  PatternedBoard session;
  session.state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(4);
  session.state.offset = qmx::File::Img::Address(2);
  const mrl::Result result = mrl::ClearEeprom(session.state);
  ASSERT_FALSE(result.failed()) << result.msg();
  Bytes expected = Pattern(8);
  std::fill(expected.begin() + 2, expected.begin() + 6, 0xFF);
  const Bytes eeprom = session.board.eeprom();
  EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + 8), expected);
  EXPECT_EQ(session.console.out(),
            "Starting file download to Quarn2.\nDownload in progress.\nDownload succeeded!\n");
}

// A range that ends beyond a 256-kbit EEPROM asks for the EEPROM size first,
// so that a small EEPROM is never wrapped round to its start; the flash is
// read without asking.
TEST(ExtractAndClear, TestTheEepromSizeOnlyForARangePastItsFirst32KiB) {
  constexpr std::uint8_t kCheckEepromSize = 3;
  struct Case {
    const char* name;
    mrl::Result (*action)(mrl::RunState&);
    std::uint16_t offset;
    std::uint32_t length;
    bool small_eeprom;
    bool size_test;  // asked for first
    bool refused;    // the small EEPROM refuses the range
  };
  const Case cases[] = {
      {"clear to 32768", mrl::ClearEeprom, 0x7F00, 0x100, true, false, false},
      {"clear past 32768, small", mrl::ClearEeprom, 0x8000, 0x100, true, true, true},
      {"clear past 32768, large", mrl::ClearEeprom, 0x7F00, 0x102, false, true, false},
      {"extract to 32768", ExtractFromEeprom, 0, 0x8000, true, false, false},
      {"extract past 32768, small", ExtractFromEeprom, 0x7FFE, 4, true, true, true},
      {"extract past 32768, large", ExtractFromEeprom, 0xFF00, 0x100, false, true, false},
      {"flash extract past 32768, small", ExtractFromFlash, 0xFF00, 0x100, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config = Running(Program::kLoader);
    config.faults.small_eeprom = c.small_eeprom;
    BoardSession session(config);
    ScratchFile file;
    session.state.extract_file = file.path();
    session.state.offset = qmx::File::Img::Address(c.offset);
    session.state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(c.length);
    const Bytes eeprom = session.board.eeprom();

    const mrl::Result result = c.action(session.state);

    const BoardRecord record = session.board.record();
    ASSERT_FALSE(record.commands.empty());
    EXPECT_EQ(record.commands.front().command == kCheckEepromSize, c.size_test);
    if (c.refused) {
      EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kEepromTooSmall)) << result.msg();
      EXPECT_EQ(record.commands.size(), 1u);
      EXPECT_EQ(session.board.eeprom(), eeprom);
      EXPECT_TRUE(file.Read().empty());
    } else {
      EXPECT_FALSE(result.failed()) << result.msg();
      EXPECT_EQ(record.commands.size(), c.size_test ? 2u : 1u);
    }
  }
}

// One size test per run: once the 512-kbit EEPROM was found, a later range
// past 32 KiB goes without asking again.
TEST(ExtractAndClear, DoNotAskAgainOnceTheRunFoundTheLargeEeprom) {
  for (const auto action : {mrl::ClearEeprom, ExtractFromEeprom}) {
    BoardSession session(Running(Program::kLoader));
    ScratchFile file;
    session.state.extract_file = file.path();
    session.state.offset = qmx::File::Img::Address(0xFF00);
    session.state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(0x100);
    session.state.large_eeprom_found = true;
    const mrl::Result result = action(session.state);
    ASSERT_FALSE(result.failed()) << result.msg();
    ASSERT_EQ(session.board.record().commands.size(), 1u);
    EXPECT_NE(session.board.record().commands.front().command, 3);
  }
}

// ---- The run's size test -----------------------------------------------------

mrl::PlannedAction Planned(mrl::ActionId id, bool rfload = false, bool flash = false) {
  mrl::CapturedFlags flags;
  flags.rfload = rfload;
  flags.flash = flash;
  return {id, flags};
}

TBF::Entry Entry(std::uint16_t address, std::size_t length) {
  return TBF::Entry(TBF::Entry::Address(address), qmx::File::Img(Bytes(length, 1)));
}

// The test asks the board whenever any later action, as the run state stands,
// reaches past 32 KiB, and only then.
TEST(TestEepromReach, AsksWhenAnyLaterActionReachesPast32KiB) {
  using mrl::ActionId;
  // Every word non-zero, so the program packs into more than 32 KiB.
  const qmx::File::Hex large_program(Pattern(32768));
  struct Case {
    const char* name;
    std::function<void(mrl::RunState&)> set_up;
    std::vector<mrl::PlannedAction> later;
    bool asks;
  };
  const auto range = [](std::uint16_t offset, std::uint32_t length) {
    return [=](mrl::RunState& state) {
      state.offset = qmx::File::Img::Address(offset);
      state.length = qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits>(length);
    };
  };
  const auto firmware = [](TCF::Firmware image) {
    return [=](mrl::RunState& state) { state.firmware = image; };
  };
  const auto hoff = [](unsigned offset) {
    return [=](mrl::RunState& state) {
      state.hoff_file.entries = {{"fw", "any", {{"s", offset, Bytes(0x100, 1)}}}};
      state.hoff_entry = "fw";
    };
  };
  const Case cases[] = {
      {"nothing later", range(0xFF00, 0x100), {}, false},
      {"extract ends at 32 KiB", range(0x7F00, 0x100), {Planned(ActionId::kExtractEeprom)}, false},
      {"extract from the flash past 32 KiB",
       range(0xFF00, 0x100),
       {Planned(ActionId::kExtractEeprom, false, true)},
       false},
      {"clear past 32 KiB behind the HWID entry",
       range(0x7F00, 0x102),
       {Planned(ActionId::kAddHwidToTbf), Planned(ActionId::kDownloadTbfTable),
        Planned(ActionId::kClearEeprom)},
       true},
      {"img past 32 KiB",
       firmware(qmx::File::Img(Bytes(0x8002, 1))),
       {Planned(ActionId::kDownloadImgImage)},
       true},
      {"img past 32 KiB over RF",
       firmware(qmx::File::Img(Bytes(0x8002, 1))),
       {Planned(ActionId::kDownloadImgImage, true)},
       false},
      {"img to the flash past 32 KiB",
       firmware(qmx::File::Img(Bytes(0x8002, 1))),
       {Planned(ActionId::kDownloadImgImage, false, true)},
       false},
      {"TBF images to the flash past 32 KiB",
       firmware(TBF::Table({Entry(0x8000, 64)}, boost::none)),
       {Planned(ActionId::kDownloadTbfTable, false, true)},
       false},
      {"TBF program past 32 KiB beside images to the flash",
       firmware(TBF::Table({Entry(0x100, 64)}, large_program)),
       {Planned(ActionId::kDownloadTbfTable, false, true)},
       true},
      {"TBF program past 32 KiB beside an image below",
       firmware(TBF::Table({Entry(0x100, 64)}, large_program)),
       {Planned(ActionId::kDownloadTbfTable)},
       true},
      {"no TBF table yet",
       firmware(qmx::File::Hex(Pattern(32768))),
       {Planned(ActionId::kDownloadTbfTable)},
       false},
      {"HOFF EEPROM entry past 32 KiB",
       hoff(0x8000),
       {Planned(ActionId::kDownloadHoffEntry)},
       true},
      {"HOFF flash entry",
       hoff(0x8000),
       {Planned(ActionId::kDownloadHoffEntry, false, true)},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config = Running(Program::kLoader);
    config.faults.small_eeprom = true;
    BoardSession session(config);
    c.set_up(session.state);
    const mrl::Result result = mrl::TestEepromReach(session.state, c.later);
    const BoardRecord record = session.board.record();
    EXPECT_EQ(record.commands.size(), c.asks ? 1u : 0u);
    EXPECT_EQ(result.failed(), c.asks);
    if (c.asks) {
      EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kEepromTooSmall)) << result.msg();
    }
    EXPECT_EQ(session.console.out(), "");
  }
}

TEST(EraseFlashImage, SendsTheEraseCommandAndPassesItsRefusalOn) {
  BoardSession good(Running(Program::kLoader));
  EXPECT_FALSE(mrl::EraseFlashImage(good.state).failed());
  EXPECT_EQ(good.board.record().erases, 1u);

  BoardConfig config = Running(Program::kLoader);
  config.faults.nack_commands = true;
  BoardSession refusing(config);
  const mrl::Result result = mrl::EraseFlashImage(refusing.state);
  EXPECT_TRUE(FailedWith(result, mrl::SpecificError::kUnexpectedLoaderInput)) << result.msg();
}

}  // namespace
