#include "support/ProcessorUse.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

namespace mrl_test {
namespace {

using std::chrono::microseconds;

ProcessorUse UseOf(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto time = [](const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + microseconds(t.tv_usec);
  };
  return {time(usage.ru_utime) + time(usage.ru_stime), usage.ru_nvcsw};
}

// User and system time of a process from /proc/PID/stat.
microseconds ChildTime(const std::string& proc_dir) {
  std::ifstream stat(proc_dir + "/stat");
  const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the command name, which ends at the last ')': the state
  // is the first of them, user and system time the 12th and 13th.
  std::istringstream fields(line.substr(line.rfind(')') + 1));
  std::string skipped;
  for (int i = 0; i < 11; ++i) fields >> skipped;
  long user = 0;
  long system = 0;
  fields >> user >> system;
  return microseconds((user + system) * 1'000'000LL / sysconf(_SC_CLK_TCK));
}

// The voluntary context switches of one thread from its status file.
long ThreadSleeps(const std::filesystem::path& task_dir) {
  std::ifstream status(task_dir / "status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
  }
  return 0;
}

}  // namespace

ProcessorUse operator-(const ProcessorUse& later, const ProcessorUse& earlier) {
  return {later.time - earlier.time, later.sleeps - earlier.sleeps};
}

ProcessorUse ThisThreadUse() {
  return UseOf(RUSAGE_THREAD);
}

ProcessorUse ThisProcessUse() {
  return UseOf(RUSAGE_SELF);
}

ProcessorUse ChildUse(pid_t pid) {
  const std::string proc_dir = "/proc/" + std::to_string(pid);
  ProcessorUse use{ChildTime(proc_dir), 0};
  std::error_code error;
  // A thread that ends meanwhile only drops out of the sum.
  for (const auto& task : std::filesystem::directory_iterator(proc_dir + "/task", error)) {
    use.sleeps += ThreadSleeps(task.path());
  }
  return use;
}

double Cost::share() const {
  return std::chrono::duration<double>(used.time) / wall;
}

double Cost::sleeps_per_second() const {
  return static_cast<double>(used.sleeps) / std::chrono::duration<double>(wall).count();
}

std::ostream& operator<<(std::ostream& os, const Cost& cost) {
  return os << "processor " << cost.used.time.count() << " us and " << cost.used.sleeps
            << " sleeps in " << std::chrono::duration_cast<microseconds>(cost.wall).count()
            << " us";
}

CostMeter::CostMeter(std::function<ProcessorUse()> read_use)
    : read_use_(std::move(read_use)),
      wall_start_(std::chrono::steady_clock::now()),
      start_(read_use_()) {}

Cost CostMeter::cost() const {
  const ProcessorUse used = read_use_() - start_;
  return {std::chrono::steady_clock::now() - wall_start_, used};
}

::testing::AssertionResult CostsLikeWaiting(const Cost& cost, long fewest_sleeps,
                                            double most_sleeps_per_second) {
  if (cost.share() >= kSpinShare) {
    return ::testing::AssertionFailure() << "busy: " << cost.share() << " of a core; " << cost;
  }
  if (cost.used.sleeps < fewest_sleeps) {
    return ::testing::AssertionFailure()
           << "slept fewer than " << fewest_sleeps << " times; " << cost;
  }
  if (cost.sleeps_per_second() > most_sleeps_per_second) {
    return ::testing::AssertionFailure()
           << "woke " << cost.sleeps_per_second() << " times a second, more than "
           << most_sleeps_per_second << "; " << cost;
  }
  return ::testing::AssertionSuccess() << cost;
}

}  // namespace mrl_test
