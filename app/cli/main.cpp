#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "args/ProgramArgs.h"
#include "cli/LoaderArgs.h"
#include "file/DescriptorTarget.h"
#include "link/Error.h"
#include "process/OutputWatch.h"
#include "process/SignalEnd.h"
#include "process/StandardStreams.h"
#include "run/RunEnding.h"
#include "terminal/TerminalRunning.h"

namespace mrl {
const char* const kVersionString = "v2.0-205-g1737eae";
}

namespace {

const std::string kProgLongName{"The Quarn Downloader and Simple Terminal"};
// Follows the name of the signal that ends the run.
const std::string kSignalEndStr{" received, closing program"};
const std::string kOutputFailedStr{"Unable to write to standard output: "};
const std::string kNoStandardStreamStr{
    "Unable to open /dev/null in place of a closed standard stream"};

// The exit status of a command line that was refused before anything ran, and
// of a run that cannot make its closed standard streams safe.
constexpr int kRefusedStatus = 1;
// The exit status of a run that a signal ended outside the terminal is this
// plus the signal's number, as a shell reports a program that the signal
// killed.
constexpr int kSignalStatusBase = 128;
// The exit status of a run whose actions all succeeded but whose standard
// output could not be written (EX_IOERR of sysexits.h).
constexpr int kOutputFailedStatus = 74;

// The longest the end of a signalled run takes for its line on standard error
// and the flush of standard output together.
constexpr std::chrono::milliseconds kEndingOutputLimit{1000};
// How long that flush waits for a write to standard output in progress on
// another thread; one that takes longer is taken to be blocked for good, and
// what standard output held is lost.
constexpr std::chrono::milliseconds kOutputLockWait{200};

// The signals that end a run: CTRL-C, the request to end that kill, timeout
// and service managers send, and the loss of the controlling terminal.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "A signal";
}

// Ends the run on one of the ending signals, after the duties of every end
// of a run (the port released, the HWID settled and named when it is off its
// file for good, no temporary file left behind): with status 0
// when it ends the terminal, which is how the terminal is left, else as the
// signal's own end. The signal's line goes straight to standard error, past
// the streams, whose locks a blocked write to standard output may hold;
// standard output is flushed unless such a write holds it. Once the files are
// dealt with, the process ends within kEndingOutputLimit, even when standard
// error blocks too.
[[noreturn]] void ctrlC_handler(int signal) {
  const int status = mrl::TerminalIsRunning() ? 0 : kSignalStatusBase + signal;
  mrl::EndOnSignal ending;
  ending.Run();
  mrl::EndProcessWithin(kEndingOutputLimit, status);
  const std::string lines = SignalName(signal) + kSignalEndStr + "\n" + ending.said();
  static_cast<void>(qmx::File::WriteAllTo(STDERR_FILENO, lines));
  static_cast<void>(mrl::FlushUnlessHeld(stdout, kOutputLockWait));
  std::_Exit(status);
}

// The ending signals are taken by a thread of their own rather than by
// interrupting whichever thread runs: the handler then flushes standard output
// after a write in progress ends, instead of in the middle of one. Every
// thread started later keeps them blocked, so only this one receives them. A
// closed pipe on standard output ends nothing: its writes fail instead, and
// the run reports that at its end.
void HandleSignalsOnAThreadOfTheirOwn() {
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) sigaddset(&ending, signal);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  std::thread([ending] {
    int signal = 0;
    while (sigwait(&ending, &signal) != 0) {
    }
    ctrlC_handler(signal);
  }).detach();
}

// The status of a run that ended with status, once its standard output has
// been flushed: a run that lost output is no success, and says so in a line
// of standard error. A run that failed keeps its own status.
int WithOutputChecked(int status, mrl::WatchedFileBuf& out) {
  const int error = out.Finish();
  if (error == 0) return status;
  std::cerr << kOutputFailedStr << std::strerror(error) << "\n";
  return status == 0 ? kOutputFailedStatus : status;
}

// Runs the actions in order up to the first failure; that failure, or
// success when every action succeeded.
mrl::Result RunInOrder(const qmx::Args<mrl::Result>::ActionList& actions) {
  for (const auto& action : actions) {
    mrl::Result result = action();
    if (result.failed()) return result;
  }
  return qmx::Error::None{};
}

// Runs the actions, then ends the run; the failure's message goes to standard
// error after what the end says. Its code, or 0 when every action succeeded.
int RunAndEnd(const qmx::Args<mrl::Result>::ActionList& actions, mrl::RunState& state) {
  const mrl::Result result = RunInOrder(actions);
  mrl::EndOfActions(state, result).Run();
  if (!result.failed()) return 0;
  std::cerr << result.msg() << "\n";
  return static_cast<int>(result);
}

}  // namespace

int main(int argc, char** argv) {
  if (!mrl::OpenClosedStandardDescriptors()) {
    std::cerr << kNoStandardStreamStr << "\n";
    return kRefusedStatus;
  }
  HandleSignalsOnAThreadOfTheirOwn();
  mrl::WatchedFileBuf watched_out(stdout);
  std::streambuf* const cout_buf = std::cout.rdbuf(&watched_out);
  const qmx::Console console{std::cout, std::cerr};
  LoaderArgs loader(console, STDIN_FILENO);
  int status = 0;
  {
    qmx::ProgramArgs<mrl::Result> args(argc, argv, {&loader}, mrl::kVersionString, console);
    const auto plan = args.GenerateFuncs();
    qmx::Args<mrl::Result>::vout << "MRL - " << kProgLongName << " - " << __DATE__ << "\n";
    status = RunAndEnd(plan.actions, loader);
    if (plan.refused) status = kRefusedStatus;
  }
  status = WithOutputChecked(status, watched_out);
  std::cout.rdbuf(cout_buf);
  return status;
}
