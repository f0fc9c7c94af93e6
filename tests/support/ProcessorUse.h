#pragma once
// What a thread, this process or a child has used of the processor, read so
// that a test tells a wait from a busy loop however busy the machine is. The
// processor time a busy loop gets shrinks as other work fills the machine, so
// a bound on it can only be loose; the number of times threads went to sleep
// does not grow with load (a sleeper only wakes later), and tells a loop that
// never sleeps, a wait that wakes as often as it should, and one that polls
// far more often apart.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <ostream>

namespace mrl_test {

// Use so far, or between two readings.
struct ProcessorUse {
  std::chrono::microseconds time{};  // user and system
  long sleeps = 0;                   // voluntary context switches: the times a thread waited
};

ProcessorUse operator-(const ProcessorUse& later, const ProcessorUse& earlier);

// The calling thread's use.
ProcessorUse ThisThreadUse();
// This process's use: every thread, also those that have ended.
ProcessorUse ThisProcessUse();
// A running child's use: its time in the system's clock ticks (usually 10 ms),
// its sleeps those of the threads it has now.
ProcessorUse ChildUse(pid_t pid);

// What a stretch of time cost someone.
struct Cost {
  std::chrono::steady_clock::duration wall{};
  ProcessorUse used;

  double share() const;  // of one core
  double sleeps_per_second() const;
};

std::ostream& operator<<(std::ostream& os, const Cost& cost);

// Measures from its construction what the stretch until cost() cost the user
// that read_use reads.
class CostMeter {
 public:
  explicit CostMeter(std::function<ProcessorUse()> read_use);
  Cost cost() const;

 private:
  std::function<ProcessorUse()> read_use_;
  std::chrono::steady_clock::time_point wall_start_;
  ProcessorUse start_;
};

// A share of one core that only a loop that never sleeps reaches: a wait
// costs a few percent of a core even under AddressSanitizer on a busy machine,
// while a busy loop gets more than this unless five threads wait for every core.
constexpr double kSpinShare = 0.2;

// Success when cost is that of waiting: less than kSpinShare of a core, at
// least fewest_sleeps, and no more than most_sleeps_per_second.
::testing::AssertionResult CostsLikeWaiting(const Cost& cost, long fewest_sleeps,
                                            double most_sleeps_per_second);

}  // namespace mrl_test
