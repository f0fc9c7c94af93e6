// Standard output that is a pipe: each line reaches it when the program
// prints it, in its place among the lines of standard error, and a reader that
// has gone fails the run once the board work is done.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

// Far beyond the time a run takes to reach the board, also on a busy machine.
constexpr milliseconds kPrompt{10000};

const std::string kResetPrompt =
    "Starting file download to Quarn2. You may need to reset the board.\n";

using EndToEndOutput = EndToEnd;

// The board never starts its boot monitor: the run waits for it without end,
// and the line that asks for a reset is in the pipe meanwhile.
TEST_F(EndToEndOutput, TheResetPromptReachesAPipeWhileTheBoardIsSilent) {
  BoardConfig config;
  config.faults.silent = true;
  StartBoard(config);
  TestPipe out;
  ProgramRun run(MrlBinary(), OnBoard({"--gethwid"}), {{}, ChildStream::Given(out.write.fd()), {}});
  out.write.Close();
  EXPECT_EQ(ReadPipe(out.read.fd(), kResetPrompt.size(), kPrompt), kResetPrompt);
  run.Signal(SIGTERM);
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.status, 128 + SIGTERM);
  EXPECT_EQ(ReadPipe(out.read.fd(), 1, milliseconds(0)), "");
}

// Standard output and standard error in one pipe, as `2>&1 | tee log` has
// them: a failing run's lines come in the order the run printed them, the
// lines of standard output between those of standard error.
TEST_F(EndToEndOutput, OnePipeForBothStreamsKeepsTheOrderOfTheLines) {
  BoardConfig config;
  config.faults.small_eeprom = true;
  StartBoard(config);
  const std::string hoff =
      dir_.Write("fw.hoff", R"({"version":1,"entries":[{"name":"fw","target":"eeprom",)"
                            R"("sections":[{"name":"s","offset":32768,"bytes":[1,2]}]}]})");
  TestPipe log;
  const ProgramOutcome run =
      Mrl({"--hoff", hoff, "--stamp"},
          {{}, ChildStream::Given(log.write.fd()), ChildStream::Given(log.write.fd())});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 4);
  log.write.Close();
  const std::string lines = ReadPipe(log.read.fd(), 4096, milliseconds(1000));
  const std::string before_board =
      "HOFF file only contains one firmware file labeled \"fw\". Selecting this despite "
      "hoff_entry not being supplied.\n"
      "stamp flag is only available when term flag is also specified.\n";
  ASSERT_EQ(lines.substr(0, before_board.size()), before_board) << lines;
  EXPECT_EQ(AfterStandInWarning(lines.substr(before_board.size())),
            kLoaderOut + "EEPROM is too small to contain the image\n");
  EXPECT_EQ(Commands(board().record()), (std::vector<std::uint8_t>{kInformation, kSizeTest}));
}

// The reader takes the first line and goes, as `| head -n1` does, while the
// board is in the middle of taking the loader image: the run reads the HWID
// all the same, then fails for the lines it could not print.
TEST_F(EndToEndOutput, AReaderThatHasGoneFailsTheRunOnceTheBoardWorkIsDone) {
  BoardConfig config = WithHwid();
  config.faults.held_download_byte = 1000;
  StartBoard(config);
  TestPipe out;
  ProgramRun run(MrlBinary(), OnBoard({"--gethwid", "--timeout", "0"}),
                 {{}, ChildStream::Given(out.write.fd()), {}});
  out.write.Close();
  ASSERT_EQ(ReadPipe(out.read.fd(), kResetPrompt.size(), kPrompt), kResetPrompt);
  out.read.Close();
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.held; }, kPrompt));
  board().Release();
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.status, 74);
  EXPECT_EQ(AfterStandInWarning(outcome.err), "Unable to write to standard output: Broken pipe\n");
  EXPECT_EQ(Commands(board().record()), std::vector<std::uint8_t>{kInformation});
}

}  // namespace
}  // namespace mrl_test
