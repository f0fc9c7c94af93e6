#include "terminal/TerminalInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace mrl {
namespace {

using std::chrono::milliseconds;

// The longest the thread goes without looking at the running flag.
constexpr milliseconds kFlagCheckInterval{10};
// The pause after each byte sent: at most one typed byte per millisecond.
constexpr milliseconds kSendPacing{1};
// Reads as the end of input on the board's side; never sent.
constexpr std::uint8_t kNeverSent = 0xFF;

enum class InputRead { kByte, kNothing, kEnded };

// Waits at most kFlagCheckInterval for the user's next byte and reads it.
// kEnded: the input is at its end or cannot be read.
InputRead ReadInputByte(int input_fd, std::uint8_t& byte) {
  pollfd watched{input_fd, POLLIN, 0};
  const int ready = ::poll(&watched, 1, static_cast<int>(kFlagCheckInterval.count()));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return InputRead::kNothing;
  if (ready < 0) return InputRead::kEnded;
  const ssize_t count = ::read(input_fd, &byte, 1);
  if (count == 1) return InputRead::kByte;
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return InputRead::kNothing;
  return InputRead::kEnded;
}

// Hands the byte to the port in one write, waiting for room while the driver
// has none and the terminal runs; false when the port fails.
bool SendByte(const std::atomic<bool>& running, qmx::GenericPort& port, std::uint8_t byte) {
  for (;;) {
    const int taken = port.write_some(&byte, 1);
    if (taken != 0) return taken > 0;
    if (!running.load()) return true;
    port.wait_ready(qmx::GenericPort::Readiness::kRoom, kFlagCheckInterval);
  }
}

void ForwardInputToPort(std::atomic<bool>& running, std::atomic<bool>& write_failed,
                        qmx::GenericPort& port, int input_fd) {
  while (running.load()) {
    std::uint8_t byte = 0;
    switch (ReadInputByte(input_fd, byte)) {
      case InputRead::kNothing:
        break;
      case InputRead::kEnded:
        std::this_thread::sleep_for(kFlagCheckInterval);
        break;
      case InputRead::kByte:
        if (byte == kNeverSent) break;
        if (!SendByte(running, port, byte)) {
          write_failed.store(true);
          running.exchange(false);
          return;
        }
        std::this_thread::sleep_for(kSendPacing);
        break;
    }
  }
}

}  // namespace

TerminalInput::TerminalInput(std::atomic<bool>& running, qmx::GenericPort& port, int input_fd)
    : running_(running),
      thread_(ForwardInputToPort, std::ref(running), std::ref(write_failed_), std::ref(port),
              input_fd) {}

TerminalInput::~TerminalInput() {
  running_.exchange(false);
  thread_.join();
}

}  // namespace mrl
