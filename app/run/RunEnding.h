#pragma once
// What every end of a run does, whatever ends it: its actions' success or
// failure, a refused command line, or a signal. The duties, in this order:
//   1. ReleasePort: the port goes back as the run found it, out of its
//      exclusive mode, so that the next run on the device is not refused as
//      busy.
//   2. SettleHwid: a HWID taken off its HWID text file and not sent goes back
//      first on the file; one that may have reached the board, or could not
//      go back, is named on standard error, and the file no longer offers it.
//   3. RemoveTemporaryFiles: no temporary file of a file the run replaces is
//      left beside it.
// Each way to end is a RunEnding, so that a duty added here is one that every
// ending must do.

#include <string>

#include "link/Error.h"
#include "run/RunState.h"

namespace mrl {

class RunEnding {
 public:
  virtual ~RunEnding() = default;
  // Does the duties, in their order.
  void Run() {
    ReleasePort();
    SettleHwid();
    RemoveTemporaryFiles();
  }

 protected:
  virtual void ReleasePort() = 0;
  virtual void SettleHwid() = 0;
  // The same for every ending.
  void RemoveTemporaryFiles();
};

// The end once the actions have run up to result, their first failure or
// success (also when there was nothing to run). Main thread only, after the
// actions' own threads have ended.
class EndOfActions final : public RunEnding {
 public:
  EndOfActions(RunState& state, const Result& result) : state_(state), result_(result) {}

 private:
  void ReleasePort() override;
  void SettleHwid() override;

  RunState& state_;
  const Result& result_;
};

// The end on a signal, on the thread that takes it, while the other threads
// may still be using the port and the HWID text file; the process must end
// next, with no destructor run. It waits a few seconds at the most (for the
// HWID text file), and writes nothing itself: said() is what standard error
// must show of it.
class EndOnSignal final : public RunEnding {
 public:
  const std::string& said() const { return said_; }

 private:
  void ReleasePort() override;
  void SettleHwid() override;

  std::string said_;
};

}  // namespace mrl
