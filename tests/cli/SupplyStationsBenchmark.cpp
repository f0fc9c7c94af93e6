// Stations at once on one HWID supply, each programming a HWID into a board of
// its own: the wall time of N runs started together against that of one run
// alone. Runs that held the supply while they waited for their boards would
// take about N times as long; runs that hold it only to take their line take
// about as long as one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/SimulatedBoard.h"
#include "support/TempDir.h"

namespace {

using mrl_test::SimulatedBoard;

constexpr std::chrono::seconds kDeadline{60};

// Distinct HWIDs, one per line, as many as stations.
std::string SupplyOf(std::size_t lines) {
  const std::string alphabet = "0123456789ABCDEFGHJKLMNPQRTUVWXY";
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += std::string(11, alphabet[i / 32 % 32]) + alphabet[i % 32] + "\n";
  }
  return text;
}

// mrl --dev <board i> --sethwid <supply> --hwid_file for N boards at once; the
// boards and the supply are made outside the timing.
void BM_StationsOnOneSupply(benchmark::State& state) {
  const auto stations = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    mrl_test::TempDir dir;
    const std::string supply = dir.Write("hwids.txt", SupplyOf(stations));
    std::vector<std::unique_ptr<SimulatedBoard>> boards;
    for (std::size_t i = 0; i < stations; ++i) boards.push_back(std::make_unique<SimulatedBoard>());
    std::vector<std::unique_ptr<mrl_test::ProgramRun>> runs;
    state.ResumeTiming();
    for (const auto& board : boards) {
      runs.push_back(std::make_unique<mrl_test::ProgramRun>(
          MRL_BINARY,
          std::vector<std::string>{"--dev", board->device(), "--sethwid", supply, "--hwid_file"}));
    }
    for (const auto& run : runs) {
      const mrl_test::ProgramOutcome outcome = run->Wait(kDeadline);
      if (outcome.timed_out || outcome.status != 0) state.SkipWithError(outcome.err.c_str());
    }
    state.PauseTiming();
    runs.clear();
    boards.clear();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_StationsOnOneSupply)
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
