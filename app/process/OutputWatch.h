#pragma once
// Standard output that remembers why a write to it failed, so that a run
// whose output was lost does not pass as a success.

#include <atomic>
#include <cstdio>
#include <streambuf>

namespace mrl {

// A stream buffer that hands every character straight to a C stream (as
// std::cout does with standard output), so that it shares that stream's
// buffer and lock with everything else that writes or flushes it, from any
// thread. What it is handed goes out line by line, whatever the C stream's own
// buffering: a write that ends a line, with a line feed or with the carriage
// return of a progress line, flushes the C stream, so that each line reaches a
// pipe or a file as soon as it is complete; a write whose flush fails fails
// (the stream that made it goes bad). It keeps the errno of the first write or
// flush that failed; any thread may use it.
class WatchedFileBuf : public std::streambuf {
 public:
  explicit WatchedFileBuf(std::FILE* file) : file_(file) {}

  // Flushes the C stream; the errno of the first failure so far (this one
  // included), or 0 when everything written has gone out.
  [[nodiscard]] int Finish();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  // Keeps error unless an earlier failure was kept; 0 counts as EIO.
  void NoteFailure(int error);

  std::FILE* const file_;
  std::atomic<int> first_error_{0};
};

}  // namespace mrl
