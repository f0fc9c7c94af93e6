#pragma once
// A console whose two streams are kept in memory, for tests that check what
// code under test told its user.

#include <sstream>
#include <string>

#include "console/Console.h"

namespace mrl_test {

class ConsoleCapture {
 public:
  ConsoleCapture() = default;
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  const qmx::Console& console() const { return console_; }
  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }
  // Forgets what both streams received so far.
  void Clear() {
    out_.str("");
    err_.str("");
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  qmx::Console console_{out_, err_};
};

}  // namespace mrl_test
