// Converts a container with a boot monitor and four dense application spaces.

#include <benchmark/benchmark.h>

#include "ruvo/Ruvo.h"
#include "support/XipFixture.h"

namespace {

void BM_XipToImg(benchmark::State& state) {
  const std::vector<std::uint8_t> container = ruvo_test::makeDenseContainer(2024, 4);
  const int pageSize = static_cast<int>(state.range(0));
  std::size_t imageBytes = 0;
  for (auto _ : state) {
    auto result = Ruvo::XipToImg({0x1234, 0x5678, 0x9ABC, 0xDEF0}, container, pageSize);
    if (result.index() != 0) {
      state.SkipWithError("conversion failed");
      break;
    }
    imageBytes = std::get<0>(result).size();
    benchmark::DoNotOptimize(imageBytes);
  }
  state.counters["image_bytes"] = static_cast<double>(imageBytes);
}

BENCHMARK(BM_XipToImg)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
