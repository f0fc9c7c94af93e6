// The actions that load firmware into the run state and reshape it there, and
// what every firmware action does with firmware of a kind it does not expect.
#include "run/FirmwareActions.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "FirmwareFixtures.h"
#include "ScratchFile.h"
#include "support/ConsoleCapture.h"

namespace {

using mrl_test::Bytes;
using mrl_test::Pattern;
using mrl_test::ScratchFile;
using mrl_test::TcfAlternative;

using Action = std::function<mrl::Result(mrl::RunState&)>;

// The bytes a firmware kind holds: its image, or a TBF table's token form.
struct ContentsOf : boost::static_visitor<Bytes> {
  Bytes operator()(const qmx::File::Hex& f) const { return f.GetRaw(); }
  Bytes operator()(const qmx::File::Xip& f) const { return f.GetRaw(); }
  Bytes operator()(const qmx::File::Img& f) const { return f.GetRaw(); }
  Bytes operator()(const qmx::File::IS2023& f) const { return f.GetData(); }
  Bytes operator()(const TBF::Table& t) const {
    std::ostringstream os;
    t.ToStream(os);
    const std::string text = os.str();
    return Bytes(text.begin(), text.end());
  }
};
Bytes Contents(const TCF::Firmware& firmware) {
  return boost::apply_visitor(ContentsOf{}, firmware);
}

class FirmwareStateTest : public ::testing::Test {
 protected:
  mrl_test::ConsoleCapture console;
  mrl::RunState state{console.console()};
};

// ---- Loads -----------------------------------------------------------------

struct LoadCase {
  const char* name;
  Action load;
  Bytes file;           // a file the reader takes
  int kind;             // the firmware alternative it becomes
  Bytes contents;       // and what that holds
  Bytes refused_file;   // a file the reader refuses; empty: no such contents
  int alternative;      // where the reader's errors sit in TCF::Error
  std::string refusal;  // the refused file's message
};

void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.name;
}

class FirmwareLoadTest : public FirmwareStateTest, public ::testing::WithParamInterface<LoadCase> {
 protected:
  FirmwareLoadTest() { state.firmware = qmx::File::Img(Pattern(6)); }
  void ExpectFirmwareUnchanged() {
    ASSERT_EQ(state.firmware.which(), 2);
    EXPECT_EQ(Contents(state.firmware), Pattern(6));
  }
  ScratchFile file;
};

TEST_P(FirmwareLoadTest, ReadsTheFileIntoTheFirmware) {
  const LoadCase& c = GetParam();
  file.Write(c.file);
  state.input_file = file.path();
  const mrl::Result result = c.load(state);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(state.firmware.which(), c.kind);
  EXPECT_EQ(Contents(state.firmware), c.contents);
}

TEST_P(FirmwareLoadTest, MissingFileCannotBeOpenedAndLeavesTheFirmware) {
  const LoadCase& c = GetParam();
  state.input_file = file.path() + ".missing";
  const mrl::Result result = c.load(state);
  EXPECT_EQ(static_cast<int>(result), qmx::File::Common::Error::kCannotOpen);
  EXPECT_EQ(result.msg(), "Cannot open file");
  EXPECT_EQ(TcfAlternative(result), c.alternative);
  ExpectFirmwareUnchanged();
}

TEST_P(FirmwareLoadTest, RefusedContentsKeepTheReadersError) {
  const LoadCase& c = GetParam();
  if (c.refused_file.empty()) GTEST_SKIP() << "the reader takes any contents";
  file.Write(c.refused_file);
  state.input_file = file.path();
  const mrl::Result result = c.load(state);
  ASSERT_TRUE(result.failed());
  EXPECT_EQ(result.msg(), c.refusal);
  EXPECT_EQ(TcfAlternative(result), c.alternative);
  ExpectFirmwareUnchanged();
}

const TBF::Table kTable({TBF::Entry(TBF::Entry::Address(0x200), qmx::File::Img(Pattern(4)))},
                        qmx::File::Hex(Pattern(8)));

INSTANTIATE_TEST_SUITE_P(
    Formats, FirmwareLoadTest,
    ::testing::Values(LoadCase{"Hex",
                               mrl::LoadHexFile,
                               {0, 0, 0x34, 0x12, 0x78, 0x56},
                               0,
                               {0x34, 0x12, 0x78, 0x56},
                               {1, 2, 3},
                               1,
                               "Hex file has an odd number of bytes"},
                      LoadCase{"Xip", mrl::LoadXipFile, Pattern(10), 1, Pattern(10), {}, 0, ""},
                      LoadCase{"Img",
                               mrl::LoadImgFile,
                               Pattern(8),
                               2,
                               Pattern(8),
                               {1, 2, 3},
                               2,
                               "Invalid memory length"},
                      LoadCase{"Tbf",
                               mrl::LoadTbfFile,
                               ContentsOf{}(kTable),
                               3,
                               ContentsOf{}(kTable),
                               {'x', 'y', 'z'},
                               5,
                               "Invalid file format"},
                      LoadCase{"Is2023",
                               mrl::LoadIs2023File,
                               {0x00, 0x02, 7, 8, 9},
                               4,
                               {7, 8, 9},
                               {1},
                               4,
                               "Could not read offset"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Xip conversion ----------------------------------------------------------

TEST_F(FirmwareStateTest, RefusedXipConversionKeepsTheXipImage) {
  state.firmware = qmx::File::Xip(Pattern(100));
  const mrl::Result result = mrl::ConvertXipToImg(state, false, false);
  ASSERT_TRUE(result.failed());
  EXPECT_EQ(TcfAlternative(result), 3);
  ASSERT_EQ(state.firmware.which(), 1);
  EXPECT_EQ(Contents(state.firmware), Pattern(100));
}

// ---- RF padding --------------------------------------------------------------

struct PadCase {
  std::size_t length;
  std::size_t padded;
};

class RfPaddingTest : public FirmwareStateTest, public ::testing::WithParamInterface<PadCase> {};

TEST_P(RfPaddingTest, PadsWithZerosToWholeSections) {
  const PadCase& c = GetParam();
  state.firmware = qmx::File::Img(Pattern(c.length));
  ASSERT_FALSE(mrl::PadImageForRf(state).failed());
  Bytes expected = Pattern(c.length);
  expected.resize(c.padded, 0);
  ASSERT_EQ(state.firmware.which(), 2);
  EXPECT_EQ(Contents(state.firmware), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RfPaddingTest,
                         ::testing::Values(PadCase{8194, 16384}, PadCase{8192, 8192},
                                           PadCase{65536, 65536}, PadCase{0, 0}, PadCase{1, 8192}));

TEST_F(FirmwareStateTest, PaddingBeyond64KiBIsRefusedAndLeavesTheImage) {
  state.firmware = qmx::File::Img(Pattern(65538));
  const mrl::Result result = mrl::PadImageForRf(state);
  EXPECT_EQ(static_cast<int>(result), qmx::File::Common::Error::kInvalidFormat);
  EXPECT_EQ(TcfAlternative(result), 0);
  EXPECT_EQ(Contents(state.firmware), Pattern(65538));
}

// ---- HWID entry of a TBF table -----------------------------------------------

const Bytes kHwidBytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};

TEST_F(FirmwareStateTest, HwidEntryReplacesAnImageThatIsNoTable) {
  state.firmware = qmx::File::Hex(Pattern(64));
  state.new_hwid = {0x1234, 0x5678, 0x9ABC, 0xDEF0};
  ASSERT_FALSE(mrl::AddHwidToTbf(state).failed());
  const TBF::Table* table = boost::get<TBF::Table>(&state.firmware);
  ASSERT_NE(table, nullptr);
  EXPECT_FALSE(table->MaybeGetHexEntry());
  ASSERT_EQ(table->GetBinaryEntries().size(), 1u);
  EXPECT_EQ(table->GetBinaryEntries()[0].GetAddress().value(), 110);
  EXPECT_EQ(table->GetBinaryEntries()[0].GetImage().GetRaw(), kHwidBytes);
}

TEST_F(FirmwareStateTest, HwidEntryJoinsATableInAddressOrder) {
  state.firmware = TBF::Table({TBF::Entry(TBF::Entry::Address(0), qmx::File::Img(Pattern(100))),
                               TBF::Entry(TBF::Entry::Address(0x200), qmx::File::Img(Pattern(4)))},
                              qmx::File::Hex(Pattern(8)));
  state.new_hwid = {0x1234, 0x5678, 0x9ABC, 0xDEF0};
  ASSERT_FALSE(mrl::AddHwidToTbf(state).failed());
  const TBF::Table& table = boost::get<TBF::Table>(state.firmware);
  ASSERT_EQ(table.GetBinaryEntries().size(), 3u);
  EXPECT_EQ(table.GetBinaryEntries()[0].GetAddress().value(), 0);
  EXPECT_EQ(table.GetBinaryEntries()[1].GetAddress().value(), 110);
  EXPECT_EQ(table.GetBinaryEntries()[1].GetImage().GetRaw(), kHwidBytes);
  EXPECT_EQ(table.GetBinaryEntries()[2].GetAddress().value(), 0x200);
  ASSERT_TRUE(table.MaybeGetHexEntry());
  EXPECT_EQ(table.MaybeGetHexEntry()->GetRaw(), Pattern(8));
}

// ---- Firmware of another kind ------------------------------------------------

struct WrongKindCase {
  const char* name;
  Action action;
  TCF::Firmware firmware;  // a kind the action does not work on
};

void PrintTo(const WrongKindCase& c, std::ostream* os) {
  *os << c.name;
}

class UnexpectedFirmwareKindTest : public ::testing::TestWithParam<WrongKindCase> {};

TEST_P(UnexpectedFirmwareKindTest, FailsWithoutTouchingTheBoardOrTheFirmware) {
  const WrongKindCase& c = GetParam();
  mrl_test::BoardSession session(mrl_test::Running(mrl_test::Program::kLoader));
  session.state.firmware = c.firmware;
  const Bytes before = Contents(c.firmware);
  const mrl::Result result = c.action(session.state);
  EXPECT_TRUE(mrl_test::FailedWith(result, mrl::SpecificError::kInvalidArgument)) << result.msg();
  EXPECT_EQ(session.state.firmware.which(), c.firmware.which());
  EXPECT_EQ(Contents(session.state.firmware), before);
  const mrl_test::BoardRecord record = session.board.record();
  EXPECT_TRUE(record.commands.empty());
  EXPECT_TRUE(record.downloads.empty());
  EXPECT_EQ(record.resets, 0u);
  EXPECT_EQ(session.console.out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Actions, UnexpectedFirmwareKindTest,
    ::testing::Values(
        WrongKindCase{"ConvertXip",
                      [](mrl::RunState& s) { return mrl::ConvertXipToImg(s, false, false); },
                      qmx::File::Img(Pattern(64))},
        WrongKindCase{"PadForRf", mrl::PadImageForRf, qmx::File::Xip(Pattern(64))},
        WrongKindCase{"DownloadHex",
                      [](mrl::RunState& s) { return mrl::DownloadHexImage(s, false, false); },
                      qmx::File::Img(Pattern(64))},
        WrongKindCase{"DownloadImg",
                      [](mrl::RunState& s) { return mrl::DownloadImgImage(s, false, false); },
                      qmx::File::Xip(Pattern(64))},
        WrongKindCase{"DownloadIs2023", mrl::DownloadIs2023Image, qmx::File::Hex(Pattern(64))},
        WrongKindCase{"DownloadTbf",
                      [](mrl::RunState& s) { return mrl::DownloadTbfTable(s, false, false); },
                      qmx::File::IS2023(0, Pattern(64))}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
