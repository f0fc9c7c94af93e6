#include "Terminal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

#include "LoaderArgs.h"
#include "StampedOutput.h"
#include "TerminalInput.h"
#include "TerminalRunning.h"

namespace mrl {
namespace {

// The most the board's output is read in one go.
constexpr unsigned kChunkSize = 1024;
// The longest the output direction goes without looking at the running flag.
constexpr std::chrono::milliseconds kFlagCheckInterval{10};

// Writes one chunk of board output, already cut at its first zero byte.
using ChunkWriter = std::function<void(std::string_view chunk)>;

// Shows what the board sends, chunk by chunk, each flushed at once, until
// running is cleared or a port read fails.
void CopyPortToConsole(const std::atomic<bool>& running, qmx::GenericPort& port, std::ostream& out,
                       const ChunkWriter& write_chunk) {
  // One more byte than is read, so the chunk always ends with a zero byte.
  std::array<std::uint8_t, kChunkSize + 1> buffer{};
  while (running.load()) {
    port.wait_ready(qmx::GenericPort::Readiness::kInput, kFlagCheckInterval);
    const int count = port.read_some(buffer.data(), kChunkSize);
    if (count < 0) return;
    if (count == 0) continue;
    const auto* text = reinterpret_cast<const char*>(buffer.data());
    write_chunk(std::string_view(text, std::find(text, text + count, '\0') - text));
    out.flush();
    std::fill_n(buffer.begin(), count, 0);
  }
}

// The terminal around one way of writing the board's output.
Result RunTerminalWith(RunState& state, int input_fd, const ChunkWriter& write_chunk) {
  const TerminalRunningScope terminal_running;
  std::atomic<bool> running{true};
  state.console.out << LoaderArgs::kTermStart << '\n' << std::flush;
  std::optional<TerminalInput> input;
  try {
    input.emplace(running, *state.port, input_fd);
  } catch (const std::system_error& error) {
    state.console.err << "Typed input is not sent to the board: its thread did not start ("
                      << error.what() << ")\n";
  }
  CopyPortToConsole(running, *state.port, state.console.out, write_chunk);
  running.exchange(false);
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
