#pragma once
// Whether the terminal runs at this moment, for the CTRL-C handler: CTRL-C is
// the terminal's normal end, and an interruption at any other moment.

#include <atomic>

namespace mrl {
namespace detail {

inline std::atomic<bool> terminal_running{false};

}  // namespace detail

// True while a TerminalRunningScope exists; safe to call from any thread.
[[nodiscard]] inline bool TerminalIsRunning() {
  return detail::terminal_running.load();
}

// Marks the terminal as running from construction to destruction; one at a
// time.
class TerminalRunningScope {
 public:
  TerminalRunningScope() { detail::terminal_running.store(true); }
  ~TerminalRunningScope() { detail::terminal_running.store(false); }
  TerminalRunningScope(const TerminalRunningScope&) = delete;
  TerminalRunningScope& operator=(const TerminalRunningScope&) = delete;
};

}  // namespace mrl
