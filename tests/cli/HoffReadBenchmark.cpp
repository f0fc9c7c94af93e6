// The mrl program reading HOFF files of flash entries written pretty-printed
// (indent 2), each run a child process of its own: its wall time and the most
// memory it held (its resident set, from wait4). The runs name an entry the
// file lacks, so each ends once the file is read. Goals: 4.3 MB read within
// 48 MiB, 40 MB within 64 MiB, a file past the limit refused within 64 MiB and
// a second, and a file as large as the limit allows whose metadata holds as
// many keys as fit (some 6.7 million) read within 1 GiB and 20 s.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "file/HOFF.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

constexpr std::chrono::seconds kDeadline{60};
constexpr std::size_t kFullSection = 131070;  // one flash download

// One flash entry of count full sections, pretty-printed.
std::string HoffText(std::size_t count) {
  HOFF::File file;
  file.version = 1;
  HOFF::Entry entry{"fw", "flash", {}};
  for (std::size_t i = 0; i < count; ++i) {
    std::vector<std::uint8_t> bytes(kFullSection);
    for (std::size_t k = 0; k < bytes.size(); ++k)
      bytes[k] = static_cast<std::uint8_t>(1 + (k * 7 + i) % 251);
    entry.sections.push_back(
        {"s" + std::to_string(i), static_cast<unsigned>(0x20000 * i), std::move(bytes)});
  }
  file.entries.push_back(std::move(entry));
  std::ostringstream text;
  text << std::setw(2);
  file.ToStream(text);
  return text.str();
}

// A file of one empty entry whose metadata holds as many keys of four
// characters, each with an empty text, as fit into size bytes: the most keys a
// file of that size holds. They come in a scrambled order, none in its place.
void WriteMetadataText(std::ostream& out, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  constexpr std::uint64_t kBase = sizeof(kDigits) - 1;
  constexpr std::uint64_t kKeys = kBase * kBase * kBase * kBase;
  constexpr std::uint64_t kStride = 7919;  // coprime to kKeys: each key comes once
  const std::string head =
      R"({"version":1,"entries":[{"name":"fw","target":"flash","sections":[]}],"metadata":{)";
  const std::size_t kItem = std::string(R"("abcd":"",)").size();
  const std::size_t count = (size - head.size() - 2) / kItem;
  out << head;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t key = i * kStride % kKeys;
    char item[] = R"("abcd":"",)";
    for (int k = 4; k >= 1; --k, key /= kBase) item[k] = kDigits[key % kBase];
    out.write(item, static_cast<std::streamsize>(i + 1 < count ? kItem : kItem - 1));
  }
  out << "}}";
}

// Writes the file name with write, from a child process of its own: the runs of
// mrl are started sharing this process's memory until they start the program,
// so the memory they are measured with includes the most this process ever
// held.
std::string WriteFile(const std::string& name, const std::function<void(std::ostream&)>& write) {
  static mrl_test::TempDir dir;
  const std::string path = dir / name;
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream out(path, std::ios::binary);
    write(out);
    out.close();
    ::_exit(out.good() ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || status != 0) return std::string();
  return path;
}

// Writes the file of count full sections, filled with new lines to at least
// size bytes.
std::string WriteHoffFile(const std::string& name, std::size_t count, std::size_t size = 0) {
  return WriteFile(name, [&](std::ostream& out) {
    std::string text = HoffText(count);
    text.resize(std::max(text.size(), size), '\n');
    out << text;
  });
}

// Runs mrl on the file and reports the most memory a run held, the file's
// size and the goal; the run must end with status 1 and standard error
// starting with err.
void MeasureRuns(benchmark::State& state, const std::string& path, const std::string& err,
                 double goal_mib) {
  long peak_kib = 0;
  for (auto _ : state) {
    const mrl_test::ProgramOutcome run =
        mrl_test::RunProgram(MRL_BINARY, {"--hoff", path, "--hoff_entry", "absent"}, kDeadline);
    if (run.status != 1 || run.err.compare(0, err.size(), err) != 0) {
      state.SkipWithError(("unexpected end: " + run.err).c_str());
      break;
    }
    peak_kib = std::max(peak_kib, run.peak_memory_kib);
  }
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  state.counters["file_MB"] = static_cast<double>(file.tellg()) / 1e6;
  state.counters["peak_MiB"] = static_cast<double>(peak_kib) / 1024.0;
  state.counters["goal_MiB"] = goal_mib;
}

// A file of as many full sections as the argument says.
void BM_MrlReadsHoffFile(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string path = WriteHoffFile("fw" + std::to_string(count) + ".hoff", count);
  MeasureRuns(state, path, "No HOFF entry with label \"absent\"", count <= 2 ? 48 : 64);
}

// A file of as many full sections as fit, filled with white space to one
// byte past the limit.
void BM_MrlRefusesHoffFilePastTheLimit(benchmark::State& state) {
  const std::string path =
      WriteHoffFile("past.hoff", HOFF::kMaxFileSize / (17 * kFullSection), HOFF::kMaxFileSize + 1);
  MeasureRuns(state, path, HOFF::Error::kTooLarge.msg() + "\n", 64);
}

// A file of the largest size read whose metadata holds as many keys as fit.
void BM_MrlReadsHoffFileFullOfMetadata(benchmark::State& state) {
  const std::string path = WriteFile(
      "metadata.hoff", [](std::ostream& out) { WriteMetadataText(out, HOFF::kMaxFileSize); });
  MeasureRuns(state, path, "No HOFF entry with label \"absent\"", 1024);
  state.counters["goal_s"] = 20;
}

BENCHMARK(BM_MrlReadsHoffFile)
    ->ArgName("sections")
    ->Arg(2)
    ->Arg(19)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_MrlRefusesHoffFilePastTheLimit)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_MrlReadsHoffFileFullOfMetadata)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
