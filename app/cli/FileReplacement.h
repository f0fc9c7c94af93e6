#pragma once
// Rewriting a file so that it holds either its old or its new contents at
// every moment, whatever fails or is killed on the way.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace mrl {

// The steps of a replacement that touch new data on the disk; a test derives
// from it to make one of them fail.
class FileReplacementSteps {
 public:
  virtual ~FileReplacementSteps() = default;
  // Creates and opens a new file named by name, whose last six characters are
  // "XXXXXX" and become the created name (as mkstemp does); its descriptor,
  // or -1 with errno set.
  virtual int CreateTemporary(std::string& name) const;
  // Writes all of data to fd at its offset; false when any part of it cannot
  // be written.
  virtual bool WriteAll(int fd, std::string_view data) const;
  // Puts everything written to fd on the disk; false with errno set when it
  // cannot.
  virtual bool Sync(int fd) const;
  // Renames from to to, replacing to; false with errno set when it cannot.
  virtual bool Rename(const std::string& from, const std::string& to) const;
};

// The new contents of a regular file, gathered in a temporary file in the
// folder of the file (through symbolic links: of the file they lead to, so the
// links keep leading to it) until Commit puts it in the file's place. The
// temporary file is removed when this object goes uncommitted, so the old
// file is never touched unless the replacement succeeds.
class FileReplacement {
 public:
  // Creates the empty temporary file; not ready() when path does not lead to
  // a regular file or no file can be created next to it.
  explicit FileReplacement(const std::string& path,
                           const FileReplacementSteps& steps = FileReplacementSteps{});
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool ready() const { return pending_ && fd_ >= 0; }

  // Appends what source holds from offset from to its end, through a buffer of
  // a fixed size whatever the amount; holes of source stay holes. False when
  // source cannot be read or the temporary file not written.
  bool CopyFrom(int source, off_t from, const FileReplacementSteps& steps = FileReplacementSteps{});

  // Gives the temporary file the old file's owner and group (where the system
  // allows: a user who may not give a file away keeps it) and permission bits,
  // puts it on the disk and renames it over the old file. False when any of
  // that fails; the old file then keeps its contents and the temporary file is
  // gone.
  bool Commit(const FileReplacementSteps& steps = FileReplacementSteps{});

 private:
  void Discard();

  std::string target_;  // the file to replace, links resolved
  struct stat old_ {};  // what the file was when the replacement began
  std::string name_;    // the temporary file's
  int fd_ = -1;
  bool pending_ = false;  // the temporary file exists and is ours to remove
  off_t size_ = 0;        // what the temporary file is to hold, holes included
};

// Removes the temporary files of the replacements neither committed nor
// discarded yet, for an end of the process that runs no destructors (the
// interrupt). Any thread may call it while replacements are in use.
void RemovePendingReplacements();

}  // namespace mrl
