#pragma once
// Rewriting a file so that it holds either its old or its new contents at
// every moment, whatever fails or is killed on the way.

#include <string>
#include <string_view>

namespace mrl {

// The two steps of a replacement that touch new data on the disk; a test
// derives from it to make one of them fail.
class FileReplacementSteps {
 public:
  virtual ~FileReplacementSteps() = default;
  // Creates and opens a new file named by name, whose last six characters are
  // "XXXXXX" and become the created name (as mkstemp does); its descriptor,
  // or -1 with errno set.
  virtual int CreateTemporary(std::string& name) const;
  // Writes all of data to fd; false when any part of it cannot be written.
  virtual bool WriteAll(int fd, std::string_view data) const;
};

// Replaces the contents of the regular file at path (through symbolic links:
// the file they lead to, so the links keep leading to it) by contents, keeping
// its permission bits: writes a temporary file in the same folder, syncs it to
// the disk and renames it over the file. False when anything fails; the file
// then keeps its old contents and the temporary file is gone.
bool ReplaceFileContents(const std::string& path, std::string_view contents,
                         const FileReplacementSteps& steps = FileReplacementSteps{});

}  // namespace mrl
