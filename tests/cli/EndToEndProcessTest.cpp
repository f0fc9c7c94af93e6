// The program as a process among others: the signals that end it, standard
// streams that are closed, and standard output that cannot be written.
#include <fcntl.h>
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
// A run whose actions succeeded but whose standard output could not be written.
constexpr int kOutputFailed = 74;
const std::string kDiskFull = "Unable to write to standard output: No space left on device\n";
const std::string kPipeClosed = "Unable to write to standard output: Broken pipe\n";

// ---- Signals ----------------------------------------------------------------

struct SignalCase {
  const char* name;
  int signal;
  std::string message;
};
void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndSignal : public EndToEnd, public testing::WithParamInterface<SignalCase> {};

// The board never answers: once the run has reset it, it waits for the boot
// monitor, holding the rest of the supply set aside, until the signal comes.
TEST_P(EndToEndSignal, EndsARunAsItsOwnStatusAndLeavesTheSupplyWhole) {
  const SignalCase& c = GetParam();
  BoardConfig config;
  config.faults.silent = true;
  StartBoard(config);
  const std::string contents = "CDEFGHJKLMNP\nQRTUVWXY0123\n";
  const std::string supply = dir_.Write("hwids.txt", contents);
  ProgramRun run(MrlBinary(), OnBoard({"--sethwid", supply, "--hwid_file"}));
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; }, kPrompt));
  run.Signal(c.signal);
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.status, 128 + c.signal);
  // The warning about a build without target images, when there is one, comes
  // before the signal or not, as the signal finds the run.
  ASSERT_GE(outcome.err.size(), c.message.size()) << outcome.err;
  const std::size_t at = outcome.err.size() - c.message.size();
  EXPECT_EQ(outcome.err.substr(at), c.message);
  const std::string before = outcome.err.substr(0, at);
  EXPECT_EQ(before.empty() ? before : AfterStandInWarning(before), "");
  EXPECT_EQ(TempDir::Read(supply), contents);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndToEndSignal,
    testing::Values(SignalCase{"Term", SIGTERM, "SIGTERM received, closing program\n"},
                    SignalCase{"Hangup", SIGHUP, "SIGHUP received, closing program\n"}),
    [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

// ---- Closed standard streams --------------------------------------------------

struct ClosedCase {
  const char* name;
  ChildStreams streams;
  bool out_seen;
  bool err_seen;
};
void PrintTo(const ClosedCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndClosedStream : public EndToEnd, public testing::WithParamInterface<ClosedCase> {};

// What the program writes to a closed stream is lost, never sent to the board:
// the board gets exactly the commands of the download, and holds its image.
TEST_P(EndToEndClosedStream, NeverReachesTheBoard) {
  const ClosedCase& c = GetParam();
  const Bytes img = Pattern(1000, 5);
  const ProgramOutcome run = Mrl({"--img", File("image.img", img)}, c.streams);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Commands(board().record()), (std::vector<std::uint8_t>{kInformation, kDownload}));
  EXPECT_EQ(Slice(board().eeprom(), 0, img.size()), img);
  EXPECT_EQ(run.out, c.out_seen ? kLoaderOut + kImgOut : "");
  EXPECT_EQ(c.err_seen ? AfterStandInWarning(run.err) : run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Streams, EndToEndClosedStream,
    testing::Values(ClosedCase{"Input", {ChildStream::Closed(), {}, {}}, true, true},
                    ClosedCase{"Output", {{}, ChildStream::Closed(), {}}, false, true},
                    ClosedCase{"Error", {{}, {}, ChildStream::Closed()}, true, false}),
    [](const testing::TestParamInfo<ClosedCase>& info) { return std::string(info.param.name); });

// ---- Standard output that cannot be written -----------------------------------

// The image of a run is the word kImageWord.
const std::string kImageWord = "IMAGE";

struct FullCase {
  const char* name;
  std::vector<std::string> words;
  BoardConfig board;
  int status;
  std::string err;                     // before the line about the lost output
  std::vector<std::uint8_t> commands;  // of the loader, in order
  std::size_t boot_downloads;          // the last one the image, when it is a hex image
  bool image_held;                     // in the EEPROM or as the user program
};
void PrintTo(const FullCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndFullDisk : public EndToEnd, public testing::WithParamInterface<FullCase> {};

// The board work ends as it would have; then the run says that its output was
// lost, and a run that succeeded fails for it.
TEST_P(EndToEndFullDisk, TheRunFailsOnceTheBoardWorkHasEnded) {
  const FullCase& c = GetParam();
  StartBoard(c.board);
  const Bytes image = Pattern(4096, 5);
  std::vector<std::string> words = c.words;
  for (std::string& word : words) {
    if (word == kImageWord) word = File("image", image);
  }
  const Descriptor full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  const ProgramOutcome run = Mrl(words, {{}, ChildStream::Given(full.fd()), {}});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, c.status);
  // Only a run that places the loader on the board warns about a build without it.
  EXPECT_EQ(c.commands.empty() ? run.err : AfterStandInWarning(run.err), c.err + kDiskFull);
  // Without the EEPROM wait the program may end before the board has taken the last answer.
  EXPECT_TRUE(board().WaitUntil(
      [&](const BoardRecord& r) { return r.downloads.size() >= c.boot_downloads; }));
  const BoardRecord record = board().record();
  EXPECT_EQ(Commands(record), c.commands);
  ASSERT_EQ(record.downloads.size(), c.boot_downloads);
  const bool hex = c.words.front() == "--hex";
  const Bytes held = hex ? record.downloads.back().image : Slice(board().eeprom(), 2, image.size());
  EXPECT_EQ(held == image, c.image_held);
}

BoardConfig SmallEeprom() {
  BoardConfig config;
  config.faults.small_eeprom = true;
  return config;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EndToEndFullDisk,
    testing::Values(
        FullCase{"Gethwid", {"--gethwid"}, WithHwid(), kOutputFailed, "", {kInformation}, 1, false},
        FullCase{
            "HexDownload", {"--hex", kImageWord, "--ram_only"}, {}, kOutputFailed, "", {}, 1, true},
        FullCase{"ImgDownload",
                 {"--img", kImageWord, "--offset", "2"},
                 {},
                 kOutputFailed,
                 "",
                 {kInformation, kDownload},
                 1,
                 true},
        FullCase{"FailedDownloadKeepsItsStatus",
                 {"--img", kImageWord, "--offset", "32770"},
                 SmallEeprom(),
                 4,
                 "EEPROM is too small to contain the image\n",
                 {kInformation, kSizeTest},
                 1,
                 false}),
    [](const testing::TestParamInfo<FullCase>& info) { return std::string(info.param.name); });

using EndToEndClosedPipe = EndToEnd;

// The reader of the run's output goes away while the board is in the middle of
// taking the image: the download goes on to its end.
TEST_F(EndToEndClosedPipe, LosesNothingOfADownloadUnderWay) {
  BoardConfig config;
  config.faults.held_download_byte = 2048;
  StartBoard(config);
  const Bytes hex = Pattern(4096, 3);
  TestPipe out;
  ProgramRun run(
      MrlBinary(),
      OnBoard({"--hex", File("program.hex", hex), "--ram_only", "--verbose", "--timeout", "0"}),
      {{}, ChildStream::Given(out.write.fd()), {}});
  out.write.Close();
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.held; }, kPrompt));
  out.read.Close();
  board().Release();
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.status, kOutputFailed);
  EXPECT_EQ(outcome.err, kPipeClosed);
  EXPECT_TRUE(board().WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BoardRecord record = board().record();
  ASSERT_EQ(record.downloads.size(), 1u);
  EXPECT_EQ(record.downloads[0].image, hex);
  EXPECT_EQ(record.running, Program::kUserProgram);
}

}  // namespace
}  // namespace mrl_test
