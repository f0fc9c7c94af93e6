#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "FileReplacement.h"
#include "LoaderArgs.h"
#include "TerminalRunning.h"
#include "args/ProgramArgs.h"
#include "link/Error.h"

namespace mrl {
const char* const kVersionString = "v2.0-205-g1737eae";
}

namespace {

const std::string kProgLongName{"The Quarn Downloader and Simple Terminal"};
const std::string kSigIntStr{"SIGINT received, closing program"};

// The exit status of a command line that was refused before anything ran.
constexpr int kRefusedStatus = 1;
// The exit status of a run that CTRL-C interrupted outside the terminal, as a
// shell reports a program that SIGINT ended.
constexpr int kInterruptedStatus = 128 + SIGINT;

// Ends the run on CTRL-C, standard output flushed and no temporary file left
// behind: with status 0 when it ends the terminal, which is how the terminal
// is left, else as interrupted.
[[noreturn]] void ctrlC_handler(int) {
  mrl::RemovePendingReplacements();
  std::cerr << kSigIntStr << "\n";
  std::fflush(stdout);
  std::_Exit(mrl::TerminalIsRunning() ? 0 : kInterruptedStatus);
}

// CTRL-C is taken by a thread of its own rather than by interrupting whichever
// thread runs: the handler then flushes standard output under its lock, after
// any write in progress, instead of in the middle of one. Every thread started
// later keeps SIGINT blocked, so only this one receives it.
void HandleInterruptsOnAThreadOfTheirOwn() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  std::thread([interrupt] {
    int signal = 0;
    while (sigwait(&interrupt, &signal) != 0) {
    }
    ctrlC_handler(signal);
  }).detach();
}

// Runs the actions in order up to the first failure, whose message goes to
// standard error; returns its code, or 0 when every action succeeded.
int RunInOrder(const qmx::Args<mrl::Result>::ActionList& actions) {
  for (const auto& action : actions) {
    const mrl::Result result = action();
    if (result.failed()) {
      std::cerr << result.msg() << "\n";
      return static_cast<int>(result);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  HandleInterruptsOnAThreadOfTheirOwn();
  const qmx::Console console{std::cout, std::cerr};
  LoaderArgs loader(console, STDIN_FILENO);
  int status = 0;
  {
    qmx::ProgramArgs<mrl::Result> args(argc, argv, {&loader}, mrl::kVersionString, console);
    const auto plan = args.GenerateFuncs();
    qmx::Args<mrl::Result>::vout << "MRL - " << kProgLongName << " - " << __DATE__ << "\n";
    status = plan.refused ? kRefusedStatus : RunInOrder(plan.actions);
  }
  return status;
}
