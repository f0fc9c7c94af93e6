// Input files that are not files of their kind: a folder, a FIFO without a
// writer, a device and a file far larger than any valid one are refused at
// once, without holding the file, and nothing reaches the board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The run is meant to end within a second; the bound leaves room for a busy
// machine, and a run that waits on the FIFO or reads the whole large file
// takes far longer or holds far more.
constexpr std::chrono::milliseconds kPromptly{5000};
constexpr long kMemoryBoundKib = 64 * 1024;

struct InputOption {
  const char* name;               // the option without its dashes
  std::vector<std::string> more;  // other words the run needs
  std::string out;                // what the run prints before the refusal
  std::string too_large;          // the reader's error for the large file
  int too_large_status;           // and the exit status it gives
};
void PrintTo(const InputOption& c, std::ostream* os) {
  *os << c.name;
}
std::string OptionName(const testing::TestParamInfo<InputOption>& info) {
  return info.param.name;
}

struct Input {
  const char* name;
  std::string path;
  std::string err;
  int status;
};

class EndToEndInputFile : public EndToEnd, public testing::WithParamInterface<InputOption> {
 protected:
  // A folder, a FIFO without a writer, a device and a sparse file of 200 MB,
  // with the error each gives.
  std::vector<Input> Inputs() {
    const std::string fifo = dir_ / "fifo";
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir_.Write("large", std::string());
    EXPECT_EQ(::truncate(large.c_str(), off_t{200} << 20), 0);
    return {{"folder", dir_.path().string(), "Cannot open file\n", 1},
            {"FIFO", fifo, "Cannot open file\n", 1},
            {"device", "/dev/zero", "Cannot open file\n", 1},
            {"200 MB file", large, GetParam().too_large + "\n", GetParam().too_large_status}};
  }

  ProgramOutcome Run(const std::string& path) {
    std::vector<std::string> words{std::string("--") + GetParam().name, path};
    words.insert(words.end(), GetParam().more.begin(), GetParam().more.end());
    return Mrl(words);
  }

  // The memory a run may hold: under the sanitizers, which hold much of their
  // own, as much more than a run refusing a missing file.
  long MemoryBoundKib() {
    if (!kSanitized) return kMemoryBoundKib;
    const ProgramOutcome baseline = Run(dir_ / "missing");
    EXPECT_FALSE(baseline.timed_out);
    return baseline.peak_memory_kib + kMemoryBoundKib;
  }

  // Runs the option on each input and checks the refusal, its exit status,
  // its time, the memory it held and the untouched board.
  void ExpectEachRefused() {
    const long memory_bound = MemoryBoundKib();
    for (const Input& input : Inputs()) {
      SCOPED_TRACE(input.name);
      const auto start = std::chrono::steady_clock::now();
      const ProgramOutcome run = Run(input.path);
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      EXPECT_FALSE(run.timed_out);
      EXPECT_LT(took.count(), kPromptly.count());
      EXPECT_EQ(run.err, input.err);
      EXPECT_EQ(run.out, GetParam().out);
      EXPECT_LT(run.peak_memory_kib, memory_bound);
      EXPECT_EQ(run.status, input.status);
    }
    ExpectBoardUntouched(board().record());
  }
};

// The file actions: the file is read before the board is touched (an xip
// image with a HWID to program, so before the board's HWID is read).
using EndToEndInputFileAction = EndToEndInputFile;

TEST_P(EndToEndInputFileAction, RefusesWhatIsNotAFileOfItsKind) {
  ExpectEachRefused();
}

INSTANTIATE_TEST_SUITE_P(
    Options, EndToEndInputFileAction,
    testing::Values(
        InputOption{"hex", {}, "", "Hex file is too large", 1},
        InputOption{"img", {}, "", "Invalid memory length", 2},
        InputOption{
            "xip", {"--sethwid", kHwidText}, Announcement(GivenHwid()), "Invalid file format", 2},
        InputOption{"IS2023", {}, "", "Firmware extends beyond EEPROM", 1},
        InputOption{"tbf", {}, "", "Invalid file format", 2}),
    OptionName);

// The containers, read while the command line is processed: a container that
// cannot be read refuses the command line, which ends with status 1.
using EndToEndInputFileContainer = EndToEndInputFile;

TEST_P(EndToEndInputFileContainer, RefusesWhatIsNotAFileOfItsKind) {
  ExpectEachRefused();
}

INSTANTIATE_TEST_SUITE_P(
    Options, EndToEndInputFileContainer,
    testing::Values(InputOption{"tcf", {}, "", "Invalid file format", 1},
                    InputOption{"hoff", {}, "", "HOFF file is too large (more than 64 MiB)", 1}),
    OptionName);

}  // namespace
}  // namespace mrl_test
