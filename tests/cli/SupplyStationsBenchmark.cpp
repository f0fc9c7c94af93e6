// Stations at once on one HWID supply, each programming a HWID into a board of
// its own: the wall time of N runs started together against that of one run
// alone. Runs that held the supply while they waited for their boards would
// take about N times as long; runs that hold it only to take their line take
// about as long as one. Then N stations queued behind a supply that another
// program holds: the time from its release until every station is done, each
// with a HWID of its own.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/SimulatedBoard.h"
#include "support/TempDir.h"

namespace {

using mrl_test::SimulatedBoard;

constexpr std::chrono::seconds kDeadline{60};
// Where a board keeps its HWID in its EEPROM.
constexpr std::ptrdiff_t kHwidAt = 110;
const std::string kWaiting = "The HWID text file is in use by another run; waiting for it.\n";

// Distinct HWIDs, one per line, as many as stations.
std::string SupplyOf(std::size_t lines) {
  const std::string alphabet = "0123456789ABCDEFGHJKLMNPQRTUVWXY";
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += std::string(11, alphabet[i / 32 % 32]) + alphabet[i % 32] + "\n";
  }
  return text;
}

// Starts mrl --dev <board> --sethwid <supply> --hwid_file on each board.
std::vector<std::unique_ptr<mrl_test::ProgramRun>> StartStations(
    const std::vector<std::unique_ptr<SimulatedBoard>>& boards, const std::string& supply) {
  std::vector<std::unique_ptr<mrl_test::ProgramRun>> runs;
  for (const auto& board : boards) {
    runs.push_back(std::make_unique<mrl_test::ProgramRun>(
        MRL_BINARY,
        std::vector<std::string>{"--dev", board->device(), "--sethwid", supply, "--hwid_file"}));
  }
  return runs;
}

// Waits for every run's end; what went wrong with the first that failed,
// empty when every run succeeded.
std::string FirstFailure(const std::vector<std::unique_ptr<mrl_test::ProgramRun>>& runs) {
  std::string failure;
  for (const auto& run : runs) {
    const mrl_test::ProgramOutcome outcome = run->Wait(kDeadline);
    if (failure.empty() && outcome.timed_out) failure = "a station did not end";
    if (failure.empty() && outcome.status != 0) failure = outcome.err;
  }
  return failure;
}

// One simulated board for each of count stations.
std::vector<std::unique_ptr<SimulatedBoard>> Boards(std::size_t count) {
  std::vector<std::unique_ptr<SimulatedBoard>> boards;
  for (std::size_t i = 0; i < count; ++i) boards.push_back(std::make_unique<SimulatedBoard>());
  return boards;
}

// mrl --dev <board i> --sethwid <supply> --hwid_file for N boards at once; the
// boards and the supply are made outside the timing.
void BM_StationsOnOneSupply(benchmark::State& state) {
  const auto stations = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    mrl_test::TempDir dir;
    const std::string supply = dir.Write("hwids.txt", SupplyOf(stations));
    auto boards = Boards(stations);
    state.ResumeTiming();
    auto runs = StartStations(boards, supply);
    const std::string failure = FirstFailure(runs);
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
    state.PauseTiming();
    runs.clear();
    boards.clear();
    state.ResumeTiming();
  }
}

// N stations wait for a supply that the benchmark holds locked; timed from
// its release until the last station is done. Every station must succeed and
// the boards hold the supply's N HWIDs, one each.
void BM_StationsQueuedBehindAHeldSupply(benchmark::State& state) {
  const auto stations = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    mrl_test::TempDir dir;
    const std::string supply = dir.Write("hwids.txt", SupplyOf(stations));
    auto boards = Boards(stations);
    const int held = ::open(supply.c_str(), O_RDONLY | O_CLOEXEC);
    if (held < 0 || ::flock(held, LOCK_EX) != 0) {
      state.SkipWithError("cannot lock the supply");
      break;
    }
    auto runs = StartStations(boards, supply);
    bool queued = true;
    for (const auto& run : runs) queued = queued && run->WaitForOut(kWaiting, kDeadline);
    state.ResumeTiming();
    ::close(held);
    std::string failure = FirstFailure(runs);
    if (!queued) failure = "a station did not wait for the supply";
    std::set<std::vector<std::uint8_t>> hwids;
    for (const auto& board : boards) {
      const std::vector<std::uint8_t> eeprom = board->eeprom();
      hwids.emplace(eeprom.begin() + kHwidAt, eeprom.begin() + kHwidAt + 8);
    }
    if (failure.empty() && (hwids.size() != stations || !mrl_test::TempDir::Read(supply).empty())) {
      failure = "the boards do not hold the supply's HWIDs, one each";
    }
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
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

BENCHMARK(BM_StationsQueuedBehindAHeldSupply)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
