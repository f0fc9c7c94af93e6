#include "file/HwidSupply.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <thread>

#include "file/HWID.h"
#include "file/RegularFile.h"

namespace mrl {
namespace {

const char kWaitingNote[] = "The HWID text file is in use by another run; waiting for it.\n";
constexpr std::size_t kHwidTextLength = 12;
// How often a rewrite that holds the file's lock may find that the file
// changed under it before it could take the file's place (an edit by a
// program that does not lock it); past that the file counts as not writable.
// Waiting behind other runs, which replace the file in turn, costs nothing.
constexpr int kRewriteAttempts = 20;
// How long the end of the process on a signal waits for the supply, and how
// often it looks whether the supply's lock is free meanwhile.
constexpr std::chrono::milliseconds kSignalWait{3000};
constexpr std::chrono::milliseconds kLockPoll{5};

// Guards which supply the signal thread sees and every change of its state,
// so that a HWID is given back by one thread only, and never once it is sent.
std::timed_mutex& StateMutex() {
  static std::timed_mutex mutex;
  return mutex;
}
HwidSupply* registered = nullptr;
// The registered supply's HWID while it is off the file (taken, not given
// back), for a signal that cannot have the state's guard: set under the
// guard, and read without it.
std::array<char, kHwidTextLength + 1> off_file_text{};
std::atomic<bool> off_file{false};

// The first line of a HWID text file as it stands, and its HWID text: the
// line without its line feed and a final carriage return.
struct FirstLine {
  std::string raw;
  std::string text;
};

// Reads the first line of the file open at fd from its start, but no more of
// a longer line than a valid one could hold before its line feed (its HWID
// and a carriage return). Nothing when the file cannot be read.
std::optional<FirstLine> ReadFirstLine(int fd) {
  std::array<char, kHwidTextLength + 2> start;
  std::size_t got = 0;
  while (got < start.size()) {
    const ssize_t n = ::pread(fd, start.data() + got, start.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  const auto begin = start.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(got);
  const auto line_feed = std::find(begin, end, '\n');
  FirstLine first;
  first.raw.assign(begin, line_feed == end ? end : line_feed + 1);
  first.text.assign(begin, line_feed);
  if (!first.text.empty() && first.text.back() == '\r') first.text.pop_back();
  return first;
}

// How Lock ended.
enum class Locked {
  kAtOnce,     // the lock was free
  kAfterWait,  // another held it, and let it go
  kNot,        // the lock cannot be had (by the deadline)
};

// Takes the lock of the file open at fd, waiting while another run holds it:
// until deadline when there is one, saying so on note (once) when it is
// given.
Locked Lock(int fd, std::ostream* note,
            const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Locked::kAtOnce;
  if (errno != EWOULDBLOCK) return Locked::kNot;
  if (note != nullptr) *note << kWaitingNote << std::flush;
  for (;;) {
    if (deadline) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Locked::kAfterWait;
      if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= *deadline) {
        return Locked::kNot;
      }
      std::this_thread::sleep_for(kLockPoll);
    } else {
      if (::flock(fd, LOCK_EX) == 0) return Locked::kAfterWait;
      if (errno != EINTR) return Locked::kNot;
    }
  }
}

// Whether path still leads to the file open at fd.
bool StillNames(const std::string& path, int fd) {
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// Whether the file open at fd is unchanged since it looked like was.
bool Unchanged(int fd, const struct stat& was) {
  struct stat now {};
  return ::fstat(fd, &now) == 0 && now.st_size == was.st_size &&
         now.st_mtim.tv_sec == was.st_mtim.tv_sec && now.st_mtim.tv_nsec == was.st_mtim.tv_nsec &&
         now.st_ctim.tv_sec == was.st_ctim.tv_sec && now.st_ctim.tv_nsec == was.st_ctim.tv_nsec;
}

// Whether this user may write the file at path (open without changing it).
bool MayWrite(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  static_cast<void>(::close(fd));
  return true;
}

// Notes whether the registered supply's HWID, hwid_text, is off the file;
// under the state's guard.
void NoteOffFileText(bool off, const std::string& hwid_text) {
  if (off) {
    hwid_text.copy(off_file_text.data(), kHwidTextLength);
    off_file_text[kHwidTextLength] = '\0';
  }
  off_file.store(off);
}

}  // namespace

bool IsHwidText(std::string_view text) {
  if (text.size() != kHwidTextLength) return false;
  for (std::size_t group = 0; group < kHwidTextLength; group += 3) {
    if (HWID::b32toi(text.data() + group) < 0) return false;
  }
  return true;
}

HwidSupply::HwidSupply(std::string path) : path_(std::move(path)) {
  const std::lock_guard<std::timed_mutex> lock(StateMutex());
  registered = this;
}

HwidSupply::~HwidSupply() {
  const std::lock_guard<std::timed_mutex> lock(StateMutex());
  if (registered == this) registered = nullptr;
}

HwidSupply::Outcome HwidSupply::Check(const FileReplacementSteps& steps) const {
  const qmx::File::RegularFile file = qmx::File::RegularFile::OpenForReading(path_);
  const std::optional<FirstLine> first = file.is_open() ? ReadFirstLine(file.fd()) : std::nullopt;
  if (!first) return Outcome::kCannotRead;
  if (file.status().st_nlink > 1) return Outcome::kSecondName;
  if (!IsHwidText(first->text)) return Outcome::kNoHwid;
  if (!MayWrite(path_)) return Outcome::kCannotWrite;
  // What a rewrite would need, found out now rather than once the board is
  // busy: a file beside this one, holding the rest of it.
  FileReplacement rewrite(path_, FileReplacement::Target::kRegularFile, steps);
  const auto rest_at = static_cast<off_t>(first->raw.size());
  return rewrite.CopyFrom(file.fd(), rest_at, {}, steps) ? Outcome::kDone : Outcome::kCannotWrite;
}

bool HwidSupply::IsTheFile(const std::string& path) const {
  struct stat supply {};
  struct stat other {};
  return ::stat(path_.c_str(), &supply) == 0 && ::stat(path.c_str(), &other) == 0 &&
         supply.st_dev == other.st_dev && supply.st_ino == other.st_ino;
}

HwidSupply::Outcome HwidSupply::Take(std::ostream& out, const FileReplacementSteps& steps) {
  if (taken()) return Outcome::kDone;
  return Rewrite(true, &out, std::nullopt, steps);
}

void HwidSupply::MarkSent() {
  const std::lock_guard<std::timed_mutex> lock(StateMutex());
  if (state_ == State::kTaken) state_ = State::kSent;
}

HwidSupply::Outcome HwidSupply::GiveBack(std::ostream& out, const FileReplacementSteps& steps) {
  const std::lock_guard<std::timed_mutex> lock(StateMutex());
  if (state_ != State::kTaken) return Outcome::kDone;
  return Rewrite(false, &out, std::nullopt, steps);
}

std::optional<HwidSupply::HwidOffSupply> HwidSupply::GiveBackOnSignal() {
  std::unique_lock<std::timed_mutex> lock(StateMutex(), kSignalWait);
  if (!lock.owns_lock()) {
    // Another thread keeps the state: a HWID it took may go out yet.
    if (!off_file.load()) return std::nullopt;
    return HwidOffSupply{off_file_text.data(), true};
  }
  // Kept to the end of the process, so that no HWID goes out after this.
  static_cast<void>(lock.release());
  if (registered == nullptr) return std::nullopt;
  if (registered->state_ == State::kSent) return HwidOffSupply{registered->hwid_text_, true};
  if (registered->state_ != State::kTaken) return std::nullopt;
  const Outcome given_back = registered->Rewrite(
      false, nullptr, std::chrono::steady_clock::now() + kSignalWait, FileReplacementSteps{});
  if (given_back == Outcome::kDone) return std::nullopt;
  return HwidOffSupply{registered->hwid_text_, false};
}

HwidSupply::Outcome HwidSupply::Rewrite(bool taking, std::ostream* note, Deadline deadline,
                                        const FileReplacementSteps& steps) {
  int attempts = 0;  // rewrites that lost to a change of the file
  for (;;) {
    const qmx::File::RegularFile file = qmx::File::RegularFile::OpenForReading(path_);
    if (!file.is_open()) return Outcome::kCannotRead;
    const Locked locked = Lock(file.fd(), note, deadline);
    if (locked == Locked::kNot) return Outcome::kCannotRead;
    note = nullptr;  // said once
    std::unique_lock<std::timed_mutex> state_lock(StateMutex(), std::defer_lock);
    if (taking) state_lock.lock();
    struct stat was {};
    if (::fstat(file.fd(), &was) != 0) return Outcome::kCannotRead;
    if (!StillNames(path_, file.fd())) {
      // The run that held the file replaced it meanwhile; the lock of the
      // file it replaced guards nothing. Its turn is taken again on the file
      // that took its place. Found without waiting, the change counts: a
      // path that never names the file that it opens would keep it turning.
      if (deadline && std::chrono::steady_clock::now() >= *deadline) return Outcome::kCannotRead;
      if (locked == Locked::kAtOnce && ++attempts == kRewriteAttempts) {
        return Outcome::kCannotWrite;
      }
      continue;
    }
    if (was.st_nlink > 1) return Outcome::kSecondName;

    std::optional<FirstLine> first;
    std::string prefix;
    if (taking) {
      first = ReadFirstLine(file.fd());
      if (!first) return Outcome::kCannotRead;
      if (!IsHwidText(first->text)) return Outcome::kNoHwid;
    } else {
      // The line keeps its own line end, or gets one when lines follow it now.
      prefix = line_;
      if (prefix.back() != '\n' && was.st_size > 0) prefix += '\n';
    }
    FileReplacement rewrite(path_, FileReplacement::Target::kRegularFile, steps);
    const off_t from = first ? static_cast<off_t>(first->raw.size()) : 0;
    if (!rewrite.CopyFrom(file.fd(), from, prefix, steps)) return Outcome::kCannotWrite;
    // An editor's save or an edit in place since the file was read is not
    // undone: the rewrite starts again from what the file holds then.
    const auto unchanged = [&] {
      return StillNames(path_, file.fd()) && Unchanged(file.fd(), was);
    };
    if (!rewrite.Commit(steps, unchanged)) {
      if (unchanged() || ++attempts == kRewriteAttempts) return Outcome::kCannotWrite;
      continue;
    }
    if (taking) {
      line_ = first->raw;
      hwid_text_ = first->text;
      state_ = State::kTaken;
    } else {
      state_ = State::kGivenBack;
    }
    if (registered == this) NoteOffFileText(taking, hwid_text_);
    return Outcome::kDone;
  }
}

}  // namespace mrl
