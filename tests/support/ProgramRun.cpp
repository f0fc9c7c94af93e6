#include "support/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace mrl_test {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct Pipe {
  int read = -1;
  int write = -1;
};

// A pipe for a stream that is one, else none.
Pipe MakePipe(const ChildStream& stream) {
  if (stream.kind != ChildStream::Kind::kPipe) return {};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {fds[0], fds[1]};
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The child starts with every signal at its default action and none blocked,
// whatever the test process has set up for itself.
struct SpawnSetup {
  static constexpr int kFirstCopy = 100;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  std::vector<int> copies;

  SpawnSetup(const ChildStreams& streams, const Pipe& in, const Pipe& out, const Pipe& err) {
    // The further descriptors go through copies above every number a child
    // gets, so that no copy's number is another's target (nor its own, which
    // would keep it close-on-exec).
    for (const ChildDescriptor& more : streams.more) {
      const int copy = fcntl(more.fd, F_DUPFD_CLOEXEC, kFirstCopy);
      if (copy < 0) {
        for (const int made : copies) close(made);
        throw std::runtime_error("cannot copy a descriptor for the child");
      }
      copies.push_back(copy);
    }
    posix_spawn_file_actions_init(&actions);
    Connect(streams.input, in.read, STDIN_FILENO);
    Connect(streams.output, out.write, STDOUT_FILENO);
    Connect(streams.error, err.write, STDERR_FILENO);
    for (std::size_t i = 0; i < copies.size(); ++i) {
      posix_spawn_file_actions_adddup2(&actions, copies[i], streams.more[i].number);
    }
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  // Makes the child's descriptor target what stream says; pipe_end is the
  // child's end of the stream's pipe, when it is one.
  void Connect(const ChildStream& stream, int pipe_end, int target) {
    switch (stream.kind) {
      case ChildStream::Kind::kPipe:
        posix_spawn_file_actions_adddup2(&actions, pipe_end, target);
        break;
      case ChildStream::Kind::kClosed:
        posix_spawn_file_actions_addclose(&actions, target);
        break;
      case ChildStream::Kind::kGiven:
        posix_spawn_file_actions_adddup2(&actions, stream.fd, target);
        break;
    }
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (const int copy : copies) close(copy);
  }
};

ProgramOutcome Decode(int wait_status) {
  ProgramOutcome outcome;
  if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) outcome.signal = WTERMSIG(wait_status);
  return outcome;
}

}  // namespace

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& args,
                       const ChildStreams& streams) {
  // A write to a child that has gone must fail, not end the test process.
  signal(SIGPIPE, SIG_IGN);
  Pipe in = MakePipe(streams.input);
  Pipe out = MakePipe(streams.output);
  Pipe err = MakePipe(streams.error);
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int spawned = 0;
  {
    SpawnSetup setup(streams, in, out, err);
    spawned = posix_spawn(&pid_, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                          environ);
  }
  CloseFd(in.read);
  CloseFd(out.write);
  CloseFd(err.write);
  input_ = in.write;
  out_pipe_ = out.read;
  err_pipe_ = err.read;
  if (spawned != 0) {
    pid_ = -1;
    CloseFd(input_);
    CloseFd(out_pipe_);
    CloseFd(err_pipe_);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
  }
  collector_ = std::thread([this] { Collect(); });
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  CloseFd(input_);
  if (collector_.joinable()) collector_.join();
  CloseFd(out_pipe_);
  CloseFd(err_pipe_);
}

void ProgramRun::Collect() {
  pollfd fds[2] = {{out_pipe_, POLLIN, 0}, {err_pipe_, POLLIN, 0}};
  std::string* sinks[2] = {&out_, &err_};
  int open = (out_pipe_ >= 0 ? 1 : 0) + (err_pipe_ >= 0 ? 1 : 0);
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;  // poll skips it from now on
        --open;
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      }
      changed_.notify_all();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outputs_closed_ = true;
  }
  changed_.notify_all();
}

bool ProgramRun::Write(const std::string& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = write(input_, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void ProgramRun::CloseInput() {
  CloseFd(input_);
}

void ProgramRun::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

std::string ProgramRun::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string ProgramRun::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

bool ProgramRun::WaitForOut(const std::string& text, milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return outputs_closed_ || out_.find(text) != std::string::npos; });
  return out_.find(text) != std::string::npos;
}

ProcessorUse ProgramRun::Use() const {
  return ChildUse(pid_);
}

ProgramOutcome ProgramRun::Wait(milliseconds deadline) {
  if (pid_ <= 0) throw std::logic_error("the child has already been waited for");
  const auto until = steady_clock::now() + deadline;
  int wait_status = 0;
  struct rusage usage {};
  bool timed_out = false;
  while (wait4(pid_, &wait_status, WNOHANG, &usage) == 0) {
    if (steady_clock::now() >= until) {
      kill(pid_, SIGKILL);
      wait4(pid_, &wait_status, 0, &usage);
      timed_out = true;
      break;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  pid_ = -1;
  CloseFd(input_);
  collector_.join();
  ProgramOutcome outcome = Decode(wait_status);
  outcome.timed_out = timed_out;
  outcome.peak_memory_kib = usage.ru_maxrss;
  const auto as_time = [](const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
  };
  outcome.cpu_time =
      std::chrono::duration_cast<milliseconds>(as_time(usage.ru_utime) + as_time(usage.ru_stime));
  std::lock_guard<std::mutex> lock(mutex_);
  outcome.out = out_;
  outcome.err = err_;
  return outcome;
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          milliseconds deadline, const ChildStreams& streams) {
  ProgramRun run(program, args, streams);
  run.CloseInput();
  return run.Wait(deadline);
}

}  // namespace mrl_test
