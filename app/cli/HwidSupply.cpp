#include "HwidSupply.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace mrl {
namespace {

const char kWaitingNote[] = "The HWID text file is in use by another run; waiting for it.\n";

// Takes the lock of the file open at fd for this run, waiting for it when
// another run holds it (saying so on out, unless noted says it was said).
bool Lock(int fd, std::ostream& out, bool& noted) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) return false;
  if (!noted) out << kWaitingNote << std::flush;
  noted = true;
  for (;;) {
    if (::flock(fd, LOCK_EX) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// Whether path still leads to the file open at fd.
bool StillNames(const std::string& path, int fd) {
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace

HwidSupply::HwidSupply(const std::string& path, std::ostream& out) : path_(path) {
  bool noted = false;
  for (;;) {
    file_ = qmx::File::RegularFile::OpenForReading(path);
    if (!file_.is_open()) return;
    if (!Lock(file_.fd(), out, noted)) {
      file_ = qmx::File::RegularFile();
      return;
    }
    // The run that held the file may have replaced it; the lock of the file
    // it replaced guards nothing.
    if (StillNames(path, file_.fd())) break;
  }
  // What the file is now that it is ours.
  if (::fstat(file_.fd(), &status_) != 0) file_ = qmx::File::RegularFile();
}

bool HwidSupply::Prepare(off_t rest_at, const FileReplacementSteps& steps) {
  rest_at_ = rest_at;
  rewrite_.emplace(path_, FileReplacement::Target::kRegularFile, steps);
  return rewrite_->CopyFrom(file_.fd(), rest_at_, steps);
}

bool HwidSupply::Commit(const FileReplacementSteps& steps) {
  const bool committed =
      rewrite_ && rewrite_->CopyFrom(file_.fd(), rest_at_, steps) && rewrite_->Commit(steps);
  rewrite_.reset();
  file_ = qmx::File::RegularFile();
  taken_off_ = committed;
  return committed;
}

}  // namespace mrl
