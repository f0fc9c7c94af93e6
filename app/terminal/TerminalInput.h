#pragma once
// The terminal's input direction: what the user types goes to the board, one
// byte per port write, on a thread of its own.

#include <atomic>
#include <thread>

#include "port/GenericPort.h"

namespace mrl {

class TerminalInput {
 public:
  // Starts forwarding the bytes read from input_fd to port on a new thread
  // (throws std::system_error when it cannot start). A byte 0xFF is never
  // sent. The thread looks at running at least every 10 ms; when a port
  // write fails it clears running and ends. Once input_fd is at its end it
  // keeps looking, pausing between reads. input_fd is never closed. Called on
  // the terminal's thread; running and port must outlive this object.
  TerminalInput(std::atomic<bool>& running, qmx::GenericPort& port, int input_fd);
  // Clears running and waits until the thread has ended.
  ~TerminalInput();
  // True once a port write has failed (running is cleared after it is set).
  bool write_failed() const { return write_failed_.load(); }
  TerminalInput(const TerminalInput&) = delete;
  TerminalInput& operator=(const TerminalInput&) = delete;

 private:
  std::atomic<bool>& running_;
  std::atomic<bool> write_failed_{false};
  std::thread thread_;
};

}  // namespace mrl
