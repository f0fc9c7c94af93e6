// How the program fails: the exit status, the message, and what reached the board.
#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

struct FailureCase {
  const char* name;
  bool BoardFaults::*fault;  // the board's one fault; nullptr: none
  bool on_board;             // the board's port goes in front of the words
  std::vector<std::string> words;
  int status;
  std::string out;
  bool loader_attempted;  // a loader image was to go on the board
  std::string err;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndFailure : public EndToEnd, public testing::WithParamInterface<FailureCase> {};

TEST_P(EndToEndFailure, EndsWithTheErrorsCodeAndMessage) {
  const FailureCase& c = GetParam();
  BoardConfig config;
  if (c.fault != nullptr) config.faults.*c.fault = true;
  StartBoard(config);
  const ProgramOutcome run = c.on_board ? Mrl(c.words) : RunMrl(c.words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(c.loader_attempted ? AfterStandInWarning(run.err) : run.err, c.err);
  EXPECT_TRUE(board().record().writes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndFailure,
    testing::Values(
        FailureCase{"NoPort",
                    nullptr,
                    false,
                    {"--gethwid"},
                    7,
                    "",
                    false,
                    "No port specified. Must specify a COM or HID port.\n"},
        FailureCase{"PortDoesNotExist",
                    nullptr,
                    false,
                    {"--dev", "/dev/no-such-port", "--gethwid"},
                    1,
                    "",
                    false,
                    "Cannot open /dev/no-such-port: No such file or directory\n"
                    "Could not open port\n"},
        FailureCase{"SilentBoard",
                    &BoardFaults::silent,
                    true,
                    {"--gethwid", "--timeout", "300", "--reset_timeout", "300"},
                    4,
                    "Starting file download to Quarn2. You may need to reset the board.\n",
                    true,
                    "Operation timed out\n"},
        FailureCase{"LoaderNacks",
                    &BoardFaults::nack_commands,
                    true,
                    {"--gethwid"},
                    5,
                    kLoaderOut,
                    true,
                    "Loader image NACKed command.\nUnexpected input from loader slave\n"},
        FailureCase{"BadChecksum",
                    &BoardFaults::wrong_checksum,
                    true,
                    {"--gethwid"},
                    2,
                    kBootDownloadStart,
                    true,
                    "Invalid checksum\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

using EndToEndFailedRun = EndToEnd;

// Also an xip file whose image is bound to the HWID the board holds.
TEST_F(EndToEndFailedRun, AMissingInputFileSendsNothing) {
  const std::vector<std::string> cases[] = {
      {"--hex", dir_ / "missing.hex"},
      {"--xip", dir_ / "missing.xip"},
      {"--xip", dir_ / "missing.xip", "--sethwid", kHwidText},
  };
  for (const std::vector<std::string>& words : cases) {
    SCOPED_TRACE(words.front() + (words.size() > 2 ? " with --sethwid" : ""));
    StartBoard(WithHwid());
    const ProgramOutcome run = Mrl(words);
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Cannot open file\n");
    ExpectBoardUntouched(board().record());
  }
}

TEST_F(EndToEndFailedRun, AnExtractWhoseTransferFailsLosesNothing) {
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "over an existing file" : "to a new name");
    TempDir dir;
    BoardConfig config = WithHwid();
    config.faults.wrong_crc = true;
    StartBoard(config);
    const std::string old_contents(1000, 'o');
    const std::string file = existing ? dir.Write("backup.bin", old_contents) : dir / "backup.bin";
    const ProgramOutcome run = Mrl({"--extract", file, "--length", "64"});
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kLoaderOut + "Beginning image extraction...\n") << "nothing is done";
    EXPECT_EQ(AfterStandInWarning(run.err), "Invalid checksum\n");
    EXPECT_EQ(dir.Names(),
              existing ? std::vector<std::string>{"backup.bin"} : std::vector<std::string>{});
    if (existing) {
      EXPECT_EQ(TempDir::Read(file), old_contents);
    }
  }
}

// A full disk is a failure, not a success: the write is named, with its
// reason, and the extraction is not said to be done.
TEST_F(EndToEndFailedRun, AnExtractThatCannotWriteItsFileFails) {
  const ProgramOutcome run = Mrl({"--extract", "/dev/full", "--length", "16"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, kLoaderOut + "Beginning image extraction...\n");
  EXPECT_EQ(AfterStandInWarning(run.err),
            "Writing the extracted bytes to /dev/full failed: No space left on device\n"
            "Cannot write file\n");
}

}  // namespace
}  // namespace mrl_test
