#include "support/ScriptedPort.h"

#include <algorithm>

namespace mrl_test {

void ScriptedPort::feed(const std::vector<std::uint8_t>& bytes) {
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

int ScriptedPort::close() {
  open = false;
  return 0;
}

int ScriptedPort::flush() {
  ++flushes;
  input_.clear();
  return 0;
}

int ScriptedPort::NextLimit(std::deque<int>& script, unsigned len) {
  if (script.empty()) return static_cast<int>(len);
  const int entry = script.front();
  script.pop_front();
  return entry < 0 ? entry : std::min(entry, static_cast<int>(len));
}

int ScriptedPort::write_some(const std::uint8_t* data, unsigned len) {
  write_lengths.push_back(len);
  const int limit = NextLimit(write_script, len);
  if (limit <= 0) return limit;
  const std::vector<std::uint8_t> accepted(data, data + limit);
  written.insert(written.end(), accepted.begin(), accepted.end());
  if (on_write) on_write(accepted);
  return limit;
}

int ScriptedPort::read_some(std::uint8_t* buf, unsigned len) {
  read_lengths.push_back(len);
  if (before_read) before_read();
  const int limit = NextLimit(read_script, len);
  if (limit <= 0) return limit;
  const auto count = std::min(static_cast<std::size_t>(limit), input_.size());
  std::copy_n(input_.begin(), count, buf);
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
  return static_cast<int>(count);
}

}  // namespace mrl_test
