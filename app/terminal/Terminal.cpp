#include "terminal/Terminal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "terminal/StampedOutput.h"
#include "terminal/TerminalInput.h"
#include "terminal/TerminalRunning.h"

namespace mrl {
namespace {

// The most the board's output is read in one go.
constexpr unsigned kChunkSize = 1024;
// The longest the output direction goes without looking at the running flag.
constexpr std::chrono::milliseconds kFlagCheckInterval{10};

// Writes one chunk of board output, without its zero bytes.
using ChunkWriter = std::function<void(std::string_view chunk)>;

// How the copying of the board's output ended.
enum class CopyEnd { kStopped, kPortFailed, kOutputFailed };

// Shows what the board sends, chunk by chunk, each flushed at once, until
// running is cleared, a port read fails or out can no longer be written. Zero
// bytes are not shown; what follows one in its chunk is.
CopyEnd CopyPortToConsole(const std::atomic<bool>& running, qmx::GenericPort& port,
                          std::ostream& out, const ChunkWriter& write_chunk) {
  std::array<std::uint8_t, kChunkSize> buffer{};
  while (running.load()) {
    if (!out) return CopyEnd::kOutputFailed;
    port.wait_ready(qmx::GenericPort::Readiness::kInput, kFlagCheckInterval);
    const int count = port.read_some(buffer.data(), kChunkSize);
    if (count < 0) return CopyEnd::kPortFailed;
    if (count == 0) continue;
    auto* const text = reinterpret_cast<char*>(buffer.data());
    const char* const end = std::remove(text, text + count, '\0');
    write_chunk(std::string_view(text, static_cast<std::size_t>(end - text)));
    out.flush();
  }
  return CopyEnd::kStopped;
}

// The port failed under the terminal: its own text for the failure on one
// line of the error stream (no line when it has none), then error.
Result PortFailure(const RunState& state, const qmx::GenericPort::Error& error) {
  const std::string text = state.port->getLastErrorString();
  if (!text.empty()) state.console.err << text << '\n';
  return Error(error);
}

// The terminal around one way of writing the board's output.
Result RunTerminalWith(RunState& state, int input_fd, const ChunkWriter& write_chunk) {
  const TerminalRunningScope terminal_running;
  std::atomic<bool> running{true};
  state.console.out << kTermStart << '\n' << std::flush;
  std::optional<TerminalInput> input;
  try {
    input.emplace(running, *state.port, input_fd);
  } catch (const std::system_error& error) {
    state.console.err << "Typed input is not sent to the board: its thread did not start ("
                      << error.what() << ")\n";
  }
  const CopyEnd copied = CopyPortToConsole(running, *state.port, state.console.out, write_chunk);
  running.exchange(false);
  const bool written = !input || !input->write_failed();
  input.reset();  // the input thread has ended: the port is this thread's alone
  if (copied == CopyEnd::kPortFailed)
    return PortFailure(state, qmx::GenericPort::Error::kReadFailed);
  if (!written) return PortFailure(state, qmx::GenericPort::Error::kWriteFailed);
  return qmx::Error::None{};
}

}  // namespace

Result RunTerminal(RunState& state, int input_fd) {
  std::ostream& out = state.console.out;
  return RunTerminalWith(state, input_fd, [&out](std::string_view chunk) { out << chunk; });
}

Result RunStampedTerminal(RunState& state, int input_fd) {
  StampedOutput stamped(state.console.out);
  return RunTerminalWith(state, input_fd,
                         [&stamped](std::string_view chunk) { stamped.Write(chunk); });
}

}  // namespace mrl
