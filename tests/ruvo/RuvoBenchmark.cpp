// Converts a container with a boot monitor and four dense application spaces.

#include <benchmark/benchmark.h>

#include "ruvo/Ruvo.h"
#include "support/XipFixture.h"

namespace {

using ruvo_test::Slot;

std::vector<std::uint8_t> denseContainer() {
  std::mt19937 rng(2024);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  std::vector<Slot> slots = {{Slot::Kind::kSpace, bootmon.space}};
  for (int i = 0; i < 4; ++i) {
    slots.push_back({Slot::Kind::kSpace, ruvo_test::makeApplication(bootmon, rng, 1.0)});
  }
  return ruvo_test::makeContainer(slots);
}

void BM_XipToImg(benchmark::State& state) {
  const std::vector<std::uint8_t> container = denseContainer();
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
