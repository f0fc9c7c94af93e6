// The terminal of the program on a board that runs its own program, and the
// interrupt that ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "EndToEnd.h"
#include "support/ProcessorUse.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

// How long a test waits for something the program is about to print.
constexpr milliseconds kPrompt{10000};
const std::string kInterrupted = "SIGINT received, closing program\n";

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// CTRL-C is the terminal's normal end, and an interruption at any other moment.
constexpr int kTerminalEnded = 0;
constexpr int kInterruptedStatus = 130;

void ExpectInterrupted(const ProgramOutcome& run, int status,
                       const std::string& message = kInterrupted) {
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.err, message);
}

class EndToEndTerminal : public EndToEnd {
 protected:
  EndToEndTerminal() { StartUserProgramBoard(); }

  // A fresh board that runs its own program.
  void StartUserProgramBoard() {
    BoardConfig config;
    config.initial_program = Program::kUserProgram;
    StartBoard(config);
  }

  // Starts mrl's terminal on the board (standard input and output pipes
  // unless streams say otherwise).
  void LaunchTerminal(std::vector<std::string> words = {}, const ChildStreams& streams = {}) {
    words.insert(words.begin(), "--term");
    run_ = std::make_unique<ProgramRun>(MrlBinary(), OnBoard(words), streams);
  }
  // Starts mrl's terminal on the board and waits until it is ready.
  void StartTerminal(std::vector<std::string> words = {}, const ChildStreams& streams = {}) {
    LaunchTerminal(words, streams);
    ASSERT_TRUE(run_->WaitForOut(kTermStart, kPrompt)) << run_->err();
  }

  // Board output that the terminal shows as the given text.
  void Show(const Bytes& bytes, const std::string& shown) {
    board().SendToHost(bytes);
    ASSERT_TRUE(run_->WaitForOut(shown, kPrompt)) << run_->out();
  }

  // Ends the terminal as the user does; returns what it had shown until then.
  // The interrupt adds nothing to it: no chunk is shown a second time by the
  // flush at the end.
  std::string Interrupt(int signal = SIGINT, const std::string& message = kInterrupted) {
    const std::string shown = run_->out();
    run_->Signal(signal);
    const ProgramOutcome run = run_->Wait(kRunDeadline);
    ExpectInterrupted(run, kTerminalEnded, message);
    EXPECT_EQ(run.out, shown);
    return shown;
  }

  std::unique_ptr<ProgramRun> run_;
};

// Zero bytes are not shown; what follows them is.
TEST_F(EndToEndTerminal, ShowsBoardOutputWithoutItsZeroBytes) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal());
  ASSERT_NO_FATAL_FAILURE(
      Show({'A', 'B', 0, 'C', 'D', '\n', 'E', 'F', '\n'}, kTermStart + "ABCD\nEF\n"));
  ASSERT_NO_FATAL_FAILURE(Show({0, 'g', 0, 0, 'h', '\n', 0}, "gh\n"));
  EXPECT_EQ(Interrupt(), kTermStart + "ABCD\nEF\ngh\n");
}

// A board that goes away, as an unplugged adapter does, ends the terminal by
// itself: the port's text for the hang-up, then the read error as the status.
TEST_F(EndToEndTerminal, EndsWhenTheBoardGoesAway) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal());
  ASSERT_NO_FATAL_FAILURE(Show(Text("bye\n"), "bye\n"));
  ASSERT_TRUE(board().HangUp());
  const ProgramOutcome run = run_->Wait(kPrompt);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, kTermStart + "bye\n");
  EXPECT_EQ(run.err, "Error 5: Input/output error\nFailed to read from port\n");
}

// Each line starts with the seconds since the start, also one that starts in a later chunk.
TEST_F(EndToEndTerminal, StampsEveryLine) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal({"--stamp"}));
  ASSERT_NO_FATAL_FAILURE(Show(Text("one\ntwo\n"), "two\n"));
  ASSERT_NO_FATAL_FAILURE(Show(Text("x"), "x"));
  const std::string out = Interrupt();
  ASSERT_EQ(out.compare(0, kTermStart.size(), kTermStart), 0) << out;
  const std::string shown = out.substr(kTermStart.size());
  const std::string stamp = R"(\[ ([ 0-9]{3}[0-9]\.[0-9]{3}) \] )";
  std::smatch match;
  ASSERT_TRUE(
      std::regex_match(shown, match, std::regex(stamp + "one\n" + stamp + "two\n" + stamp + "x")))
      << out;
  EXPECT_LE(std::stod(match[1]), std::stod(match[2]));
  EXPECT_LE(std::stod(match[2]), std::stod(match[3]));
}

// The byte 0xFF is never sent.
TEST_F(EndToEndTerminal, SendsTypedBytesToTheBoard) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal());
  ASSERT_TRUE(run_->Write("hi\xffz"));
  EXPECT_TRUE(
      board().WaitUntil([](const BoardRecord& r) { return r.received.size() >= 3; }, kPrompt));
  Interrupt();
  EXPECT_EQ(board().record().received, Text("hiz"));
}

// Once its input has ended, the terminal still shows what the board sends,
// and waits for it without keeping the processor busy.
TEST_F(EndToEndTerminal, KeepsShowingBoardOutputAfterTheInputEnded) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal());
  run_->CloseInput();
  ASSERT_NO_FATAL_FAILURE(Show(Text("still here\n"), "still here\n"));
  const CostMeter meter([this] { return run_->Use(); });
  std::this_thread::sleep_for(milliseconds(500));
  // Its two threads look at the running flag every 10 ms: about 200 sleeps a
  // second, where a poll of a millisecond would make a thousand.
  EXPECT_TRUE(CostsLikeWaiting(meter.cost(), 1, 400));
  ASSERT_NO_FATAL_FAILURE(Show(Text("and here\n"), "and here\n"));
  EXPECT_EQ(Interrupt(), kTermStart + "still here\nand here\n");
}

// A closed window sends SIGHUP, kill, timeout and service managers SIGTERM:
// for the terminal, which has no end of its own, each is its normal end.
TEST_F(EndToEndTerminal, EndsNormallyOnEverySignalThatEndsARun) {
  const struct {
    int signal;
    std::string message;
  } kCases[] = {
      {SIGHUP, "SIGHUP received, closing program\n"},
      {SIGTERM, "SIGTERM received, closing program\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message);
    StartUserProgramBoard();
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_NO_FATAL_FAILURE(Show(Text("up\n"), "up\n"));
    EXPECT_EQ(Interrupt(c.signal, c.message), kTermStart + "up\n");
  }
}

// True once not one slot is left in the pipe whose write end is fd, so that
// writes to it block; false when timeout passed first.
bool WaitUntilFull(int fd, milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < until) {
    pollfd room{fd, POLLOUT, 0};
    if (::poll(&room, 1, 0) == 0) return true;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

// Fills the pipe whose write end is fd to its last byte, so that the next
// write to it blocks; fd stays a blocking descriptor.
void Fill(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  ASSERT_EQ(::fcntl(fd, F_SETFL, flags | O_NONBLOCK), 0);
  const std::string page(4096, 'e');
  while (::write(fd, page.data(), page.size()) > 0) {
  }
  while (::write(fd, "e", 1) > 0) {
  }
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_EQ(::fcntl(fd, F_SETFL, flags), 0);
}

// The run is meant to end within a second of the signal; the bound leaves room
// for a busy machine. A run that waits for its blocked output never ends.
constexpr milliseconds kPromptly{5000};

// Standard output a pipe whose reader stopped reading once the terminal had
// started (as a console paused with CTRL-S stops it): the board's output fills
// it and the terminal's write blocks for good. Every signal that ends a run
// still ends it at once, with the terminal's normal status and its line; the
// output still held is lost. With standard error blocked as well, the line is
// lost too, and the end comes all the same.
TEST_F(EndToEndTerminal, EndsOnEverySignalWhileItsOutputIsBlocked) {
  const struct {
    int signal;
    std::string message;
    bool error_blocked;
  } kCases[] = {
      {SIGINT, kInterrupted, false},
      {SIGTERM, "SIGTERM received, closing program\n", false},
      {SIGHUP, "SIGHUP received, closing program\n", false},
      {SIGTERM, "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message.empty() ? "standard error blocked" : c.message);
    StartUserProgramBoard();
    TestPipe out;
    TestPipe err;
    if (c.error_blocked) {
      ASSERT_NO_FATAL_FAILURE(Fill(err.write.fd()));
    }
    LaunchTerminal({}, {{},
                        ChildStream::Given(out.write.fd()),
                        c.error_blocked ? ChildStream::Given(err.write.fd()) : ChildStream{}});
    ASSERT_EQ(ReadPipe(out.read.fd(), kTermStart.size(), kPrompt), kTermStart);
    board().SendToHost(Pattern(256 * 1024, 9));
    ASSERT_TRUE(WaitUntilFull(out.write.fd(), kPrompt));

    const auto signalled = std::chrono::steady_clock::now();
    run_->Signal(c.signal);
    const ProgramOutcome run = run_->Wait(kRunDeadline);
    const auto took = std::chrono::steady_clock::now() - signalled;
    ExpectInterrupted(run, kTerminalEnded, c.message);
    EXPECT_LT(took, kPromptly);
  }
}

// With standard input closed, nothing is typed: the board's own output is
// shown, all of it, and never goes back to it. (A port opened on descriptor 0
// would take some of the chunks as typed input and send them back.)
TEST_F(EndToEndTerminal, SendsNothingWhenStandardInputIsClosed) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal({}, {ChildStream::Closed(), {}, {}}));
  std::string shown = kTermStart;
  for (int chunk = 0; chunk < 20; ++chunk) {
    const std::string line = "line " + std::to_string(chunk) + "\n";
    shown += line;
    ASSERT_NO_FATAL_FAILURE(Show(Text(line), shown));
  }
  EXPECT_EQ(Interrupt(), shown);
  EXPECT_TRUE(board().record().received.empty());
}

// With standard output closed, what the terminal shows is lost, and only what
// the user types reaches the board.
TEST_F(EndToEndTerminal, SendsOnlyTypedBytesWhenStandardOutputIsClosed) {
  LaunchTerminal({}, {{}, ChildStream::Closed(), {}});
  board().SendToHost(Text("board output\n"));
  ASSERT_TRUE(run_->Write("k"));
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return !r.received.empty(); }, kPrompt));
  run_->Signal(SIGINT);
  ExpectInterrupted(run_->Wait(kRunDeadline), kTerminalEnded);
  EXPECT_EQ(board().record().received, Text("k"));
}

// With standard error closed, the line that the interrupt writes is lost, not
// sent to the board: after the run, the board has received only what the test
// itself sends down the line afterwards.
TEST_F(EndToEndTerminal, SendsNothingWhenStandardErrorIsClosed) {
  ASSERT_NO_FATAL_FAILURE(StartTerminal({}, {{}, {}, ChildStream::Closed()}));
  run_->Signal(SIGINT);
  const ProgramOutcome run = run_->Wait(kRunDeadline);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, kTerminalEnded);
  const Descriptor line(::open(board().device().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
  ASSERT_EQ(::write(line.fd(), "@", 1), 1);
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return !r.received.empty(); }, kPrompt));
  EXPECT_EQ(board().record().received, Text("@"));
}

// The reader of the terminal's output goes away (as head does once it has its
// lines): the terminal ends at the next board output it cannot show.
TEST_F(EndToEndTerminal, EndsWhenItsOutputCanNoLongerBeWritten) {
  TestPipe out;
  LaunchTerminal({}, {{}, ChildStream::Given(out.write.fd()), {}});
  out.write.Close();
  std::string shown;
  while (shown.size() < kTermStart.size()) {
    char c = 0;
    if (::read(out.read.fd(), &c, 1) != 1) break;
    shown += c;
  }
  out.read.Close();
  ASSERT_EQ(shown, kTermStart);
  board().SendToHost(Text("lost\n"));
  const ProgramOutcome run = run_->Wait(kRunDeadline);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 74);
  EXPECT_EQ(run.err, "Unable to write to standard output: Broken pipe\n");
}

using EndToEndInterrupt = EndToEnd;

// The board never answers: once the download action has reset it, the
// download is under way and never ends by itself.
TEST_F(EndToEndInterrupt, EndsADownloadInTheMiddle) {
  BoardConfig config;
  config.faults.silent = true;
  StartBoard(config);
  ProgramRun run(MrlBinary(),
                 OnBoard({"--hex", File("program.hex", Pattern(4096, 1)), "--ram_only"}));
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; }, kPrompt));
  run.Signal(SIGINT);
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ExpectInterrupted(outcome, kInterruptedStatus);
  // Whether the download had announced itself depends on when the interrupt came.
  const std::string announced =
      "Starting file download to Quarn2. You may need to reset the board.\n";
  EXPECT_TRUE(outcome.out.empty() || outcome.out == announced) << outcome.out;
  EXPECT_TRUE(board().record().downloads.empty());
}

}  // namespace
}  // namespace mrl_test
