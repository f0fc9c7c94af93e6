#pragma once
// Board output with every line preceded by the time since the terminal started.

#include <chrono>
#include <ostream>
#include <string_view>

namespace mrl {

class StampedOutput {
 public:
  // Takes the start time from the system clock. Used on one thread.
  explicit StampedOutput(std::ostream& out);

  // Writes one chunk of board output (without zero bytes), with
  // "[ " seconds " ] " before its first character when a line starts there and
  // after each line feed that another character of the chunk follows. The
  // seconds are taken when the stamp is written, in fixed notation with 3
  // decimals, padded to 8 characters; fixed and precision 3 stay set on out.
  // An empty chunk writes nothing.
  void Write(std::string_view chunk);

 private:
  void WriteStamp();

  std::ostream& out_;
  std::chrono::system_clock::time_point start_;
  bool at_line_start_ = true;
};

}  // namespace mrl
