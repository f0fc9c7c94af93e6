// The run as a whole: the banner, parse errors, and the run stopping at the
// first failing action. Refused command lines have a file of their own.
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
  EXPECT_EQ(run.status, 1);
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
