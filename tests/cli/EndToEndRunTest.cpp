// The run as a whole: the banner, parse errors, and the run stopping at the
// first failing action.
#include <gtest/gtest.h>

#include <regex>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using EndToEndRun = EndToEnd;

TEST_F(EndToEndRun, VerboseAlonePrintsOnlyTheBanner) {
  const ProgramOutcome run = RunMrl({"--verbose"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_match(
      run.out,
      std::regex("MRL - The Quarn Downloader and Simple Terminal - "
                 "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4}\n")))
      << run.out;
  EXPECT_EQ(run.err, "");
}

TEST_F(EndToEndRun, AParseErrorPrintsNoBanner) {
  const ProgramOutcome run = RunMrl({"--verbose", "--no_such_option"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("no_such_option"), std::string::npos) << run.err;
}

TEST_F(EndToEndRun, HelpListsTheOptionGroups) {
  const ProgramOutcome run = RunMrl({"--help"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0);
  for (const char* caption : {"Download / Terminal Actions:", "Common Action Modifiers:",
                              "Xip/Img/Extract/Tbf Modifiers:", "Display Help:"}) {
    EXPECT_NE(run.out.find(caption), std::string::npos) << caption;
  }
  EXPECT_EQ(run.err, "");
}

// The HWID is printed, then the size test fails: the run ends there with its error.
TEST_F(EndToEndRun, TheSecondActionsFailureFollowsTheFirstOnesOutput) {
  BoardConfig config = WithHwid();
  config.faults.small_eeprom = true;
  StartBoard(config);
  const ProgramOutcome run = Mrl({"--gethwid", "--test_size"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.out, kLoaderOut + "Extracted HWID = " + HexForm(kBoardHwid) +
                         Base32Form(kBoardHwid) + "\nEEPROM is 256kbit.\n");
  EXPECT_EQ(AfterStandInWarning(run.err), "EEPROM is too small to contain the image\n");
}

// Command lines that are refused or select nothing: the reason on standard
// error, status 0, and the board untouched.
TEST_F(EndToEndRun, RefusedCommandLinesLeaveTheBoardAlone) {
  const std::string two_entries =
      dir_.Write("two.hoff", R"({"version": 1, "entries": [)"
                             R"({"name": "a", "target": "eeprom", "sections": []},)"
                             R"({"name": "b", "target": "flash", "sections": []}]})");
  const struct {
    std::vector<std::string> words;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--version", "--gethwid"}, "v2.0-205-g1737eae\n", ""},
      {{"--hex", "a.hex", "--xip", "b.xip"},
       "",
       "The following provided flags are mutually exclusive:\nhex\nxip\n"},
      {{"--ram_only", "--force", "--gethwid"},
       "",
       "Only hex files can reside solely in RAM.\nError processing arguments\n"},
      {{"--protocol", "3", "--crys_freq", "0", "--gethwid"},
       "",
       "Invalid protocol version provided.\nInvalid crystal frequency provided.\n"
       "Error processing arguments\n"},
      {{"--img", "a.img", "--offset", "0x10000"},
       "",
       "the argument ('0x10000') for option '--offset' is invalid\n"},
      {{"--hoff", two_entries},
       "",
       "HOFF file contains multiple firmware files, but hoff_entry was not supplied to select "
       "one.\nAvailable HOFF entries are:\na\nb\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    StartBoard();
    const ProgramOutcome run = Mrl(c.words);
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    const BoardRecord record = board().record();
    EXPECT_EQ(record.resets, 0u);
    EXPECT_TRUE(record.downloads.empty());
  }
}

TEST_F(EndToEndRun, StampWithoutTermWarnsAndRunsTheRest) {
  const ProgramOutcome run = Mrl({"--stamp", "--reset"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "stamp flag is only available when term flag is also specified.\n");
  EXPECT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; }));
}

}  // namespace
}  // namespace mrl_test
