// Whole runs of the mrl program, from process start to exit, against the
// simulated board over a pseudo-terminal, beside the same protocol exchange
// made in-process with the link's own classes. The difference between an img
// run and its in-process exchange is what the program adds to the protocol's
// own transfer time (starting, parsing, opening the port, exiting).
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>

#include "link/GenericPortProtocol.h"
#include "link/HexProtocol.h"
#include "link/ImgProtocol.h"
#include "link/XipImageLoader.h"
#include "port/LineSetup.h"
#include "port/SerialPort.h"
#include "support/ConsoleCapture.h"
#include "support/ProgramRun.h"
#include "support/SimulatedBoard.h"
#include "support/TempDir.h"

namespace {

using mrl_test::SimulatedBoard;
using Bytes = std::vector<std::uint8_t>;

constexpr std::chrono::seconds kDeadline{30};
constexpr unsigned kLen = 32768;

Bytes Image() {
  Bytes image(kLen);
  for (unsigned i = 0; i < kLen; ++i) image[i] = static_cast<std::uint8_t>(i * 5 + 3);
  return image;
}

// Each iteration gets a fresh board, started in its boot monitor, outside the timing.
template <typename Body>
void OnFreshBoards(benchmark::State& state, Body body) {
  for (auto _ : state) {
    state.PauseTiming();
    auto board = std::make_unique<SimulatedBoard>();
    state.ResumeTiming();
    body(*board);
    state.PauseTiming();
    board.reset();
    state.ResumeTiming();
  }
}

// mrl --dev <board> --img <32 KiB>: a reset, the loader image through the boot
// monitor, the HWID read and the image through the loader.
void BM_MrlImgRun(benchmark::State& state) {
  mrl_test::TempDir dir;
  const std::string file = dir.Write("image.img", Image());
  OnFreshBoards(state, [&](SimulatedBoard& board) {
    const mrl_test::ProgramOutcome run =
        mrl_test::RunProgram(MRL_BINARY, {"--dev", board.device(), "--img", file}, kDeadline);
    if (run.status != 0) state.SkipWithError(run.err.c_str());
  });
}

// The same exchange made in-process.
void BM_InProcessImgExchange(benchmark::State& state) {
  const Bytes image = Image();
  const Bytes& loader = xip_loader_hexes.at(ImgProtocol::CrystalFrequency::k24_576MHz);
  OnFreshBoards(state, [&](SimulatedBoard& board) {
    qmx::SerialPort port(board.device().c_str());
    qmx::SetUpBoardLine(port, 115200);
    mrl_test::ConsoleCapture console;
    GenericPortProtocol protocol(port, std::chrono::milliseconds(3000), console.console());
    std::ostringstream out;
    port.reset();
    HexProtocol hex(protocol, HexProtocol::Speed::kFast, 0);
    mrl::Result result =
        hex.DownloadFile(loader.data(), static_cast<unsigned>(loader.size()), false, out);
    ImgProtocol img(protocol);
    if (!result.failed() && img.GetHWID(false, false).index() != 0) {
      state.SkipWithError("the HWID read failed");
    }
    if (!result.failed()) result = img.DownloadFile(image.data(), kLen, 0, out);
    if (result.failed()) state.SkipWithError(result.msg().c_str());
  });
}

void BM_MrlHelp(benchmark::State& state) {
  for (auto _ : state) {
    const mrl_test::ProgramOutcome run = mrl_test::RunProgram(MRL_BINARY, {"--help"}, kDeadline);
    if (run.status != 0) state.SkipWithError("mrl --help failed");
  }
}

BENCHMARK(BM_MrlImgRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_InProcessImgExchange)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_MrlHelp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
