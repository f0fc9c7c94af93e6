// Reading and programming the board's HWID with the program, and the guards
// that keep a HWID from being lost.
#include <gtest/gtest.h>

#include <sstream>

#include "EndToEnd.h"
#include "file/HOFF.h"

namespace mrl_test {
namespace {

const std::string kGuardRefusal =
    "This operation would overwrite the HWID already present in the device EEPROM. Refusing to "
    "proceed unless --force is supplied.\n";

using EndToEndHwid = EndToEnd;

TEST_F(EndToEndHwid, SethwidAloneWritesTheHwid) {
  const ProgramOutcome run = Mrl({"--sethwid", kHwidText});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Announcement(GivenHwid()) + kLoaderOut + TbfOut(1, false));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(GivenHwid()));
}

// A supply of HWIDs, one per line; a run uses up the first.
const std::string kFirstHwid = "CDEFGHJKLMNP";
const std::string kRestOfSupply = "QRTUVWXY0123\nPPPPPPPPPPPP\r\n";

TEST_F(EndToEndHwid, HwidFileGivesUpItsFirstLine) {
  const std::string supply = dir_.Write("hwids.txt", kFirstHwid + "\r\n" + kRestOfSupply);
  const ProgramOutcome run = Mrl({"--sethwid", supply, "--hwid_file"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  const HWID::Raw hwid = HWID::base32ToRaw(kFirstHwid.c_str());
  // Announced when it is taken off the supply, once the board is known.
  EXPECT_EQ(run.out, kLoaderOut + Announcement(hwid) + TbfOut(1, false));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(hwid));
  EXPECT_EQ(TempDir::Read(supply), kRestOfSupply);
}

TEST_F(EndToEndHwid, HwidFileIsKeptWhenTheRunFails) {
  StartBoard(WithHwid());
  const std::string contents = kFirstHwid + "\n" + kRestOfSupply;
  const std::string supply = dir_.Write("hwids.txt", contents);
  const ProgramOutcome run = Mrl({"--sethwid", supply, "--hwid_file"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(AfterStandInWarning(run.err), kGuardRefusal + "Invalid argument received\n");
  EXPECT_EQ(TempDir::Read(supply), contents);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"}) << "nothing left beside it";
  EXPECT_TRUE(board().record().writes.empty());
}

// ---- Guards --------------------------------------------------------------------

struct GuardCase {
  const char* name;
  bool board_has_hwid;
  std::vector<std::string> words;  // after the input file
  const char* option;              // the file option
  int status;
  std::string err;
};
void PrintTo(const GuardCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndHwidGuard : public EndToEnd, public testing::WithParamInterface<GuardCase> {};

TEST_P(EndToEndHwidGuard, RefusesBeforeWriting) {
  const GuardCase& c = GetParam();
  StartBoard(c.board_has_hwid ? WithHwid() : BoardConfig{});
  const Bytes file = c.option == std::string("--xip") ? XipContainer() : Pattern(256, 1);
  std::vector<std::string> words{c.option, File("firmware", file)};
  words.insert(words.end(), c.words.begin(), c.words.end());
  const ProgramOutcome run = Mrl(words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(AfterStandInWarning(run.err), c.err);
  if (c.status == 0) {
    EXPECT_EQ(run.out, kLoaderOut + kImgOut);
    EXPECT_EQ(Slice(board().eeprom(), 0, file.size()), file);
  } else {
    EXPECT_EQ(run.out, kLoaderOut);
    EXPECT_TRUE(board().record().writes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndHwidGuard,
    testing::Values(
        GuardCase{
            "ImgOverAHwid", true, {}, "--img", 1, kGuardRefusal + "Invalid argument received\n"},
        GuardCase{"ImgOverAHwidWithForce", true, {"--force"}, "--img", 0, ""},
        GuardCase{
            "XipWithoutAnyHwid",
            false,
            {},
            "--xip",
            3,
            "This operation requires the device EEPROM to already have a valid HWID, but one "
            "was not found! Unable to proceed without --sethwid.\nNo HWID found in device\n"}),
    [](const testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

// A board whose information block lacks the boot monitor notice counts as
// holding no HWID, so nothing guards the HWID it holds; --no_ruvo reads it,
// and the guard refuses.
struct UnnoticedCase {
  const char* name;
  std::vector<std::string> words;  // after the file option's path, if any
  const char* option;              // the file option, if any
  Bytes slot;                      // the HWID slot after the run without --no_ruvo
};
void PrintTo(const UnnoticedCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndUnnoticedHwid : public EndToEnd, public testing::WithParamInterface<UnnoticedCase> {
 protected:
  std::vector<std::string> Words() {
    const UnnoticedCase& c = GetParam();
    std::vector<std::string> words;
    if (c.option == std::string("--img")) {
      words = {c.option, File("over-hwid.img", Pattern(16, 4))};
    } else if (c.option == std::string("--hoff")) {
      HOFF::File hoff;
      hoff.version = 1;
      hoff.entries.push_back({"main", "eeprom", {{"data", 0x300, Pattern(64, 6)}}});
      std::ostringstream text;
      hoff.ToStream(text);
      words = {c.option, dir_.Write("firmware.hoff", text.str())};
    }
    words.insert(words.end(), c.words.begin(), c.words.end());
    return words;
  }
};

TEST_P(EndToEndUnnoticedHwid, OverwritesTheHwidUnlessNoRuvoReadsIt) {
  const UnnoticedCase& c = GetParam();
  for (const bool no_ruvo : {false, true}) {
    SCOPED_TRACE(no_ruvo ? "with --no_ruvo" : "without --no_ruvo");
    BoardConfig config = WithHwid();
    config.faults.missing_notice = true;
    StartBoard(config);
    std::vector<std::string> words = Words();
    if (no_ruvo) words.push_back("--no_ruvo");
    const ProgramOutcome run = Mrl(words);
    ASSERT_FINISHED(run);
    if (no_ruvo) {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(AfterStandInWarning(run.err), kGuardRefusal + "Invalid argument received\n");
      EXPECT_TRUE(board().record().writes.empty());
      EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(kBoardHwid));
    } else {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(AfterStandInWarning(run.err), "");
      EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), c.slot);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, EndToEndUnnoticedHwid,
    testing::Values(
        UnnoticedCase{"Img", {"--offset", "104"}, "--img", Slice(Pattern(16, 4), 6, 8)},
        UnnoticedCase{"Clear", {"--clear", "--offset", "96", "--length", "32"}, "", Bytes(8, 0xFF)},
        // The HOFF entry carries the HWID read, which is none.
        UnnoticedCase{"Hoff", {}, "--hoff", Bytes(8, 0)}),
    [](const testing::TestParamInfo<UnnoticedCase>& info) { return std::string(info.param.name); });

// ---- Reading the HWID --------------------------------------------------------

struct GethwidCase {
  const char* name;
  bool board_has_hwid;
  bool missing_notice;  // the board's information block lacks the boot monitor notice
  std::vector<std::string> words;
  std::string line;
  std::uint8_t command;  // the loader command that read it
};
void PrintTo(const GethwidCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndGethwid : public EndToEnd, public testing::WithParamInterface<GethwidCase> {};

TEST_P(EndToEndGethwid, PrintsWhatTheBoardHolds) {
  const GethwidCase& c = GetParam();
  BoardConfig config = c.board_has_hwid ? WithHwid() : BoardConfig{};
  config.faults.missing_notice = c.missing_notice;
  StartBoard(config);
  std::vector<std::string> words{"--gethwid"};
  words.insert(words.end(), c.words.begin(), c.words.end());
  const ProgramOutcome run = Mrl(words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + c.line);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  ASSERT_EQ(record.commands.size(), 1u);
  EXPECT_EQ(record.commands[0].command, c.command);
}

const std::string kExtracted =
    "Extracted HWID = " + HexForm(kBoardHwid) + Base32Form(kBoardHwid) + "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndGethwid,
    testing::Values(GethwidCase{"Present", true, false, {}, kExtracted, 0},
                    GethwidCase{"Absent", false, false, {}, "No valid HWID found.\n", 0},
                    GethwidCase{"WithoutTheNotice", true, true, {}, "No valid HWID found.\n", 0},
                    GethwidCase{
                        "WithoutTheNoticeButNoRuvo", true, true, {"--no_ruvo"}, kExtracted, 0},
                    GethwidCase{"Winbond",
                                true,
                                false,
                                {"--winbond"},
                                "Extracted Winbond HWID = " + HexForm(kBoardHwid) + "\n",
                                8},
                    GethwidCase{"WinbondAbsent",
                                false,
                                false,
                                {"--winbond"},
                                "Extracted Winbond HWID = 0x0000000000000000\n",
                                8}),
    [](const testing::TestParamInfo<GethwidCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mrl_test
