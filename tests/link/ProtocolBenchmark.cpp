// Downloads 32 KiB through each protocol to the simulated board over a
// pseudo-terminal and reports the time per download. The board answers at
// once, so the figures are the host's own cost: its polling and the serial port.
#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

#include "BoardLink.h"
#include "link/HexProtocol.h"
#include "link/ImgProtocol.h"
#include "link/RfLoaderProtocol.h"

namespace {

using mrl_test::BoardLink;
using mrl_test::BoardRecord;
using mrl_test::Program;
using mrl_test::Running;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kLen = 32768;

Bytes Image() {
  Bytes image(kLen);
  for (unsigned i = 0; i < kLen; ++i) image[i] = static_cast<std::uint8_t>(i * 5 + 3);
  return image;
}

void Check(benchmark::State& state, const mrl::Result& result) {
  if (result.failed()) state.SkipWithError(result.msg().c_str());
}

// Standard output is the benchmark's report; the protocols' headlines go elsewhere.
struct QuietStdout {
  QuietStdout() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~QuietStdout() { std::cout.rdbuf(saved); }
  std::ostringstream sink;
  std::streambuf* saved;
};

void BootMonitor(benchmark::State& state, HexProtocol::Speed speed) {
  BoardLink link;
  const Bytes image = Image();
  std::ostringstream out;
  for (auto _ : state) {
    state.PauseTiming();
    const unsigned resets = link.board.record().resets;
    link.port.reset();
    link.board.WaitUntil([&](const BoardRecord& r) {
      return r.resets > resets && r.running == Program::kBootMonitor;
    });
    state.ResumeTiming();
    QuietStdout quiet;
    HexProtocol hex(link.protocol, speed, 5000);
    Check(state, hex.DownloadFile(image.data(), kLen, true, out));
  }
}

void BM_BootMonitorFast(benchmark::State& state) {
  BootMonitor(state, HexProtocol::Speed::kFast);
}
void BM_BootMonitorSlow(benchmark::State& state) {
  BootMonitor(state, HexProtocol::Speed::kSlow);
}

void BM_LoaderDownload(benchmark::State& state) {
  BoardLink link(Running(Program::kLoader));
  const Bytes image = Image();
  std::ostringstream out;
  for (auto _ : state) {
    QuietStdout quiet;
    ImgProtocol img(link.protocol);
    Check(state, img.DownloadFile(image.data(), kLen, 0, out));
  }
}

void BM_LoaderIS2023(benchmark::State& state) {
  BoardLink link(Running(Program::kLoader));
  const Bytes image = Image();
  std::ostringstream out;
  for (auto _ : state) {
    QuietStdout quiet;
    ImgProtocol img(link.protocol);
    Check(state, img.IS2023Load(image.data(), kLen, 0, 80, out));
  }
}

void BM_RfLoader(benchmark::State& state) {
  BoardLink link(Running(Program::kRfLoader));
  const Bytes image = Image();
  for (auto _ : state) {
    QuietStdout quiet;
    RfLoaderProtocol rf(link.protocol);
    Check(state, rf.DownloadFile(image.data(), kLen));
  }
}

BENCHMARK(BM_BootMonitorFast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_BootMonitorSlow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_LoaderDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_LoaderIS2023)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RfLoader)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
