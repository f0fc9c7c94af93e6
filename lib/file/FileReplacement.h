#pragma once
// Rewriting a file so that it holds either its old or its new contents at
// every moment, whatever fails or is killed on the way.

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace qmx::File {

// The steps of a replacement that touch new data on the disk; a test derives
// from it to make one of them fail.
class FileReplacementSteps {
 public:
  virtual ~FileReplacementSteps() = default;
  // Opens a new file in folder that has no name (O_TMPFILE) with the
  // permission bits mode (less the umask); its descriptor, or -1 with errno
  // set where the file system has no such files, or where Link could not
  // name one (no /proc, as in a bare chroot).
  virtual int CreateUnnamed(const std::string& folder, mode_t mode) const;
  // Creates and opens the new file name with the permission bits mode (less
  // the umask), failing when name exists; its descriptor, or -1 with errno set.
  virtual int CreateNamed(const std::string& name, mode_t mode) const;
  // Gives the unnamed file open at fd the name name, failing when name
  // exists; false with errno set when it cannot.
  virtual bool Link(int fd, const std::string& name) const;
  // Writes all of data to fd at its offset; false when any part of it cannot
  // be written.
  virtual bool WriteAll(int fd, std::string_view data) const;
  // Puts everything written to fd on the disk; false with errno set when it
  // cannot.
  virtual bool Sync(int fd) const;
  // Renames from to to, replacing to; false with errno set when it cannot.
  virtual bool Rename(const std::string& from, const std::string& to) const;
};

// The new contents of a file, gathered in a temporary file in the folder of
// the file (through symbolic links: of the file they lead to, so the links
// keep leading to it) until Commit puts it in the file's place. Where the file
// system allows, the temporary file has no name until the commit, so that not
// even a process killed outright leaves it behind but at that moment;
// elsewhere it has a name that never makes the folder's longest names fail,
// and that is removed when this object goes uncommitted or
// RemovePendingReplacements runs. A name is hidden and recognisable as this
// program's: ".NAME.mrl-PID.XXXXXX", NAME the file's name (cut to fit), PID
// the process that made it. Each replacement first removes from its folder
// the names that a replacement of the same file made, whose process has
// ended; any other name stays. Main thread only (RemovePendingReplacements
// excepted).
class FileReplacement {
 public:
  // What the path may name.
  enum class Target {
    kRegularFile,       // an existing regular file
    kRegularFileOrNew,  // that, or nothing at all: the commit creates the file
  };

  // Creates the empty temporary file; not ready() when path does not lead to
  // what target admits (an existing file must be readable, so that what it
  // keeps can be copied), no file can be created next to it, or the new file
  // cannot have the existing one's owner and group (a user who may not give
  // files away replacing another's).
  explicit FileReplacement(const std::string& path, Target target = Target::kRegularFile,
                           const FileReplacementSteps& steps = FileReplacementSteps{});
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool ready() const { return fd_ >= 0; }

  // Makes the temporary file hold prefix, then what source holds from offset
  // from to its end, in place of what it held, through a buffer of a fixed
  // size whatever the amount; holes of source stay holes. False when source
  // cannot be read or the temporary file not written.
  bool CopyFrom(int source, off_t from, std::string_view prefix = {},
                const FileReplacementSteps& steps = FileReplacementSteps{});
  // Makes the temporary file hold bytes, in place of what it held; false when
  // they cannot be written.
  bool Write(std::string_view bytes, const FileReplacementSteps& steps = FileReplacementSteps{});

  // Gives the temporary file, which has the old file's owner and group, its
  // permission bits (set-user-id, set-group-id and sticky included) with
  // their access control lists, and its extended attributes (a new file
  // keeps the bits it was created with), puts it on the disk and renames it
  // over the old file. False when any of that fails; the old file then
  // keeps its contents (a new one is not created) and the temporary file is
  // gone. Not ready() afterwards either way. When unchanged is given, it is
  // asked last, just before the temporary file takes the file's place, and
  // false undoes the commit: the file changed meanwhile.
  bool Commit(const FileReplacementSteps& steps = FileReplacementSteps{},
              const std::function<bool()>& unchanged = {});

 private:
  void Discard();
  // A name in the folder for the temporary file that no file has yet.
  std::string TemporaryName() const;

  std::string folder_;    // the folder of the file, links resolved
  std::string target_;    // the file to replace, links resolved
  bool existed_ = false;  // whether the file was there when the replacement began
  struct stat old_ {};    // what it was then
  std::string name_;      // the temporary file's, while it has one
  int source_ = -1;       // the file to replace, open to read what it keeps
  int fd_ = -1;
};

// Removes the temporary files of the replacements that have a name and are
// neither committed nor discarded yet, for an end of the process that runs no
// destructors (the interrupt). Any thread may call it while replacements are
// in use; a commit is either complete or undone when it returns.
void RemovePendingReplacements();

}  // namespace qmx::File
