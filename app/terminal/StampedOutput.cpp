#include "terminal/StampedOutput.h"

#include <iomanip>

namespace mrl {

StampedOutput::StampedOutput(std::ostream& out)
    : out_(out), start_(std::chrono::system_clock::now()) {}

void StampedOutput::Write(std::string_view chunk) {
  if (chunk.empty()) return;
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const bool line_starts = i == 0 ? at_line_start_ : chunk[i - 1] == '\n';
    if (line_starts) WriteStamp();
    out_.put(chunk[i]);
  }
  at_line_start_ = chunk.back() == '\n';
}

void StampedOutput::WriteStamp() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now() - start_);
  const double seconds = static_cast<double>(elapsed.count()) / 1e9;
  out_ << "[ " << std::fixed << std::setprecision(3) << std::setw(8) << seconds << " ] ";
}

}  // namespace mrl
