#pragma once
// Runs another program as a child process for a test: its standard input is a
// pipe the test writes to and closes, its standard output and error are
// collected as they come (on a thread of their own, so a chatty child never
// blocks), and its end is awaited under a deadline.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ProcessorUse.h"

namespace mrl_test {

// How a child ended and what it printed.
struct ProgramOutcome {
  bool timed_out = false;                 // the deadline passed and the child was killed
  int status = -1;                        // exit status, when it exited
  int signal = 0;                         // the signal that ended it, when one did
  long peak_memory_kib = 0;               // the most memory it held at once (resident set)
  std::chrono::milliseconds cpu_time{0};  // the processor time it used, user and system
  std::string out;
  std::string err;
};

// What one of the child's standard streams is.
struct ChildStream {
  enum class Kind {
    kPipe,    // a pipe of the ProgramRun: written with Write, or collected
    kClosed,  // no open descriptor at all
    kGiven,   // fd, a descriptor of the test's (best opened close-on-exec,
              // so that the child holds no other copy of it)
  };
  Kind kind = Kind::kPipe;
  int fd = -1;

  static ChildStream Closed() { return {Kind::kClosed, -1}; }
  static ChildStream Given(int fd) { return {Kind::kGiven, fd}; }
};

// A descriptor of the test's that the child holds as descriptor number, as
// a shell's 3>>file gives one.
struct ChildDescriptor {
  int number = -1;
  int fd = -1;
};

struct ChildStreams {
  ChildStream input;
  ChildStream output;
  ChildStream error;
  std::vector<ChildDescriptor> more{};  // numbers above 2
};

class ProgramRun {
 public:
  // Starts program with args (without the program name) and its standard
  // streams as given. Throws std::runtime_error when the child cannot be
  // started. Only streams that are pipes of this object are collected or
  // written.
  ProgramRun(const std::string& program, const std::vector<std::string>& args,
             const ChildStreams& streams = {});
  // Kills the child if it still runs.
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Writes to the child's standard input; false when the child no longer reads it.
  bool Write(const std::string& bytes);
  // Ends the child's standard input.
  void CloseInput();
  void Signal(int signal);

  // What the child printed so far.
  std::string out() const;
  std::string err() const;
  // Waits until the child's standard output contains text; false when
  // timeout passed first or the child closed its output without it.
  bool WaitForOut(const std::string& text, std::chrono::milliseconds timeout);

  // What the running child has used of the processor so far.
  ProcessorUse Use() const;

  // Waits for the child's end; past the deadline kills it and reports timed_out.
  ProgramOutcome Wait(std::chrono::milliseconds deadline);

 private:
  void Collect();

  pid_t pid_ = -1;
  int input_ = -1;
  int out_pipe_ = -1;
  int err_pipe_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;
  std::string err_;
  bool outputs_closed_ = false;
  std::thread collector_;
};

// Runs program with args, its standard input empty (unless streams say
// otherwise), and waits for its end.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds deadline, const ChildStreams& streams = {});

}  // namespace mrl_test
