#pragma once
// A HWID text file that runs on several boards share: each takes one line, and
// holds the file only for the moment that takes it (or gives it back), so that
// no run waits while another waits for its board, and no two runs ever get
// the same HWID. The file is read again from what its path names at each of
// those moments, so that a line another run took, an editor's save or an edit
// in place meanwhile is neither lost nor undone.

#include <atomic>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "file/FileReplacement.h"

namespace mrl {

using qmx::File::FileReplacement;
using qmx::File::FileReplacementSteps;

// Whether text is a HWID as people type it: twelve characters, each of the
// alphabet. A typo must not become a board's identity, so both ways of giving
// the HWID to program accept nothing else.
bool IsHwidText(std::string_view text);

class HwidSupply {
 public:
  enum class Outcome {
    kDone,
    kCannotRead,   // no regular file, or one that cannot be read or locked
    kSecondName,   // the file has another name (a hard link) that a rewrite would part
    kNoHwid,       // its first line is no HWID text
    kCannotWrite,  // the file, or one beside it, cannot be written
  };

  // The supply at path (through symbolic links); nothing is opened yet. Only
  // one supply of a process is the one that GiveBackOnSignal sees: the one
  // made last. Main thread only, but for GiveBackOnSignal.
  explicit HwidSupply(std::string path);
  ~HwidSupply();
  HwidSupply(const HwidSupply&) = delete;
  HwidSupply& operator=(const HwidSupply&) = delete;

  // Checks, holding nothing and changing nothing, that the file is one that
  // Take can use now: a readable regular file of one name, whose first line
  // is HWID text, that this user may write and that can be rewritten (a file
  // beside it can be made and holds the rest of it).
  [[nodiscard]] Outcome Check(const FileReplacementSteps& steps = FileReplacementSteps{}) const;
  // Whether the file is the one that path names, when path names anything.
  bool IsTheFile(const std::string& path) const;

  // Takes the first line off the file that the path names now: under the
  // file's lock, which another run may hold for a moment (said once on out,
  // then waited for without a deadline, behind any number of runs that take
  // their lines first), the file is replaced by its rest.
  // Once kDone, hwid_text() is the line's HWID, which from now on is this
  // run's until MarkSent or GiveBack. Not again once taken.
  [[nodiscard]] Outcome Take(std::ostream& out,
                             const FileReplacementSteps& steps = FileReplacementSteps{});
  bool taken() const { return state_ != State::kUntaken; }
  const std::string& hwid_text() const { return hwid_text_; }

  // The taken HWID starts on its way to the board: it is no longer given
  // back, whatever happens. Any thread; nothing when no HWID is held.
  void MarkSent();
  bool sent() const { return state_ == State::kSent; }
  // Whether a taken HWID is held, neither sent nor given back.
  bool holds() const { return state_ == State::kTaken; }

  // Puts the held HWID back as the file's first line, under the lock as
  // Take; the file's other lines stay as they are then. kDone at once when
  // no HWID is held.
  [[nodiscard]] Outcome GiveBack(std::ostream& out,
                                 const FileReplacementSteps& steps = FileReplacementSteps{});
  // A HWID that is off its file for good: the run took it and did not put
  // it back.
  struct HwidOffSupply {
    std::string text;
    // Whether it may have reached the board (it went out, or it is not known
    // whether it did); else it did not, but could not be put back.
    bool may_be_on_board = false;
  };
  // GiveBack for the end of the process on a signal, on the thread that
  // takes it: waits for the supply at most a moment, says nothing, and gives
  // up when it cannot have the file in that time. The HWID that is off the
  // file then, if any, for the caller to name. The process must end next:
  // from here on no thread takes or sends a HWID (MarkSent waits for ever).
  [[nodiscard]] static std::optional<HwidOffSupply> GiveBackOnSignal();

 private:
  enum class State { kUntaken, kTaken, kSent, kGivenBack };
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  // Replaces the file under its lock: by its rest when taking, else by the
  // held line and the whole file. note: where waiting for the lock is said.
  // Takes the state's guard once it holds the file's lock when taking, so
  // that a signal meanwhile is not kept waiting; the caller holds it else.
  Outcome Rewrite(bool taking, std::ostream* note, Deadline deadline,
                  const FileReplacementSteps& steps);

  std::string path_;
  std::atomic<State> state_{State::kUntaken};
  std::string hwid_text_;  // the taken line's HWID
  std::string line_;       // the taken line as it stood, line end included
};

}  // namespace mrl
