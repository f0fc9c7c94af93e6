#pragma once
// A HWID text file as one run uses it: held by that run alone from the moment
// its first line is read until its rewrite is committed or the run ends, so
// that runs at once on one file never program the same HWID. Main thread only.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <ostream>
#include <string>

#include "file/FileReplacement.h"
#include "file/RegularFile.h"

namespace mrl {

using qmx::File::FileReplacement;
using qmx::File::FileReplacementSteps;

class HwidSupply {
 public:
  // Opens the regular file path (through symbolic links) and takes it for
  // this run. When another run holds it, says so on out once and waits for as
  // long as that run holds it (the other run's own deadlines bound that); a
  // file replaced meanwhile is opened again, so the run reads the file that
  // took its place, never the one it replaced. Not is_open() when path cannot
  // be opened as a regular file; errno then says why.
  HwidSupply(const std::string& path, std::ostream& out);
  HwidSupply(const HwidSupply&) = delete;
  HwidSupply& operator=(const HwidSupply&) = delete;

  bool is_open() const { return file_.is_open(); }
  // The open file, positioned at its start; -1 when not open.
  int fd() const { return file_.fd(); }
  // How many names (hard links) the file has.
  nlink_t links() const { return status_.st_nlink; }

  // Sets the rewrite aside now, the file without its first rest_at bytes, so
  // that a file that cannot be rewritten is found out before the board is
  // touched. False when it cannot be set aside.
  [[nodiscard]] bool Prepare(off_t rest_at,
                             const FileReplacementSteps& steps = FileReplacementSteps{});
  // Replaces the file by the prepared rewrite, made again from what the file
  // holds now past its first rest_at bytes (so what was added to it meanwhile
  // is kept), and lets the file go. False when it fails; the file then keeps
  // its contents.
  [[nodiscard]] bool Commit(const FileReplacementSteps& steps = FileReplacementSteps{});
  // Whether Commit took the first line off the file.
  bool taken_off() const { return taken_off_; }

 private:
  std::string path_;
  qmx::File::RegularFile file_;
  struct stat status_ {};  // what the file was once it was ours
  std::optional<FileReplacement> rewrite_;
  off_t rest_at_ = 0;
  bool taken_off_ = false;
};

}  // namespace mrl
