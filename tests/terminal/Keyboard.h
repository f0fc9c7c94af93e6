#pragma once
// A pipe standing in for the user's keyboard: the code under test reads its
// read end as standard input while the test types into the write end.

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace mrl_test {

class Keyboard {
 public:
  Keyboard() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe failed");
  }
  ~Keyboard() {
    ::close(fds_[0]);
    EndInput();
  }
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  // What the code under test reads.
  int fd() const { return fds_[0]; }
  // Types the bytes; the pipe holds them until they are read.
  void Type(const std::string& bytes) {
    if (::write(fds_[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("typing into the pipe failed");
    }
  }
  // Closes the write end: the reader sees the end of input.
  void EndInput() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }
  // Takes what was typed but not read by the code under test, without waiting.
  std::string TakeUnread() {
    ::fcntl(fds_[0], F_SETFL, ::fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
    std::string unread;
    char buf[256];
    for (ssize_t n; (n = ::read(fds_[0], buf, sizeof buf)) > 0;) unread.append(buf, n);
    return unread;
  }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace mrl_test
