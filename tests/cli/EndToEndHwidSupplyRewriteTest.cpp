// A HWID supply shared by runs and changed under them: runs at once take one
// line each, the rewrite keeps what was added meanwhile, a supply that a
// rewrite would split is refused, and no way of ending a run hands a HWID out
// twice or leaves a temporary file behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "EndToEnd.h"
#include "file/TBF.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

// Far beyond the time a run takes to reach any point, also on a busy machine.
constexpr milliseconds kPrompt{10000};

const std::string kWaiting = "The HWID text file is in use by another run; waiting for it.\n";
const std::string kSupplyLines[] = {"CDEFGHJKLMNP", "QRTUVWXY0123", "PPPPPPPPPPPP",
                                    "DDDDDDDDDDDD", "EEEEEEEEEEEE", "FFFFFFFFFFFF"};

// The supply's lines from the first-th on, each with its line feed.
std::string LinesFrom(std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < std::size(kSupplyLines); ++i) text += kSupplyLines[i] + "\n";
  return text;
}

// count distinct HWIDs.
std::vector<std::string> DistinctLines(std::size_t count) {
  const std::string alphabet = "0123456789ABCDEFGHJKLMNPQRTUVWXY";
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    lines.push_back(std::string(10, 'K') + alphabet[i / 32 % 32] + alphabet[i % 32]);
  }
  return lines;
}

// The lines from the first-th on, each with its line feed.
std::string Joined(const std::vector<std::string>& lines, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

HWID::Raw Hwid(const std::string& text) {
  return HWID::base32ToRaw(text.c_str());
}

// What a run that programs hwid alone prints, when it waited for the supply
// (waited) or not.
std::string ProgrammedOut(const std::string& hwid, const std::string& waited = "") {
  return kLoaderOut + waited + Announcement(Hwid(hwid)) + TbfOut(1, false);
}

// The lock a run takes on a supply, taken by the test to make runs wait.
class HeldSupply {
 public:
  explicit HeldSupply(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~HeldSupply() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class EndToEndHwidSupplyRewrite : public EndToEnd {
 protected:
  std::string Supply(const std::string& contents = LinesFrom(0)) {
    return dir_.Write("hwids.txt", contents);
  }
  std::unique_ptr<ProgramRun> Start(SimulatedBoard& board, const std::string& supply) {
    // No deadline of its own: the test decides when it is waited on too long.
    const std::vector<std::string> words{"--dev",       board.device(), "--sethwid", supply,
                                         "--hwid_file", "--timeout",    "0"};
    return std::make_unique<ProgramRun>(MrlBinary(), words);
  }

  // Stations, each on a board of its own.
  struct Stations {
    std::vector<std::unique_ptr<SimulatedBoard>> boards;
    std::vector<std::unique_ptr<ProgramRun>> runs;
  };
  // Starts count stations on the supply, which the test holds; true once
  // each of them said that it waits for it.
  bool Queue(std::size_t count, const std::string& supply, Stations& stations) {
    for (std::size_t i = 0; i < count; ++i) {
      stations.boards.push_back(std::make_unique<SimulatedBoard>());
      stations.runs.push_back(Start(*stations.boards.back(), supply));
    }
    for (auto& run : stations.runs) {
      if (!run->WaitForOut(kWaiting, kPrompt)) return false;
    }
    return true;
  }
  // Waits for each station's end, and checks that it succeeded after its
  // wait and programmed one of lines; the lines programmed.
  static std::set<std::string> Programmed(Stations& stations,
                                          const std::vector<std::string>& lines) {
    std::set<std::string> programmed;
    for (std::size_t i = 0; i < stations.runs.size(); ++i) {
      SCOPED_TRACE(i);
      const ProgramOutcome outcome = stations.runs[i]->Wait(kRunDeadline);
      EXPECT_FALSE(outcome.timed_out) << outcome.out << outcome.err;
      EXPECT_EQ(outcome.status, 0) << outcome.err;
      const Bytes hwid = Slice(stations.boards[i]->eeprom(), kHwidAt, 8);
      const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& text) {
        return HwidBytes(Hwid(text)) == hwid;
      });
      if (line == lines.end()) {
        ADD_FAILURE() << "no HWID of the supply";
        continue;
      }
      EXPECT_EQ(outcome.out, ProgrammedOut(*line, kWaiting)) << "said once, when taken";
      EXPECT_TRUE(programmed.insert(*line).second) << "twice: " << *line;
    }
    return programmed;
  }
};

// Appends text to the file that path names, under the lock of that file, as
// the README tells operators to add lines: it waits while a run holds the
// lock, and starts again when the file it locked is no longer the one that
// path names (a run replaced it meanwhile). False when the file cannot be
// opened or written.
bool AppendUnderTheLock(const std::string& path, const std::string& text) {
  for (;;) {
    const Descriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (file.fd() < 0 || ::flock(file.fd(), LOCK_EX) != 0) return false;
    struct stat named {};
    struct stat locked {};
    if (::stat(path.c_str(), &named) != 0 || ::fstat(file.fd(), &locked) != 0) return false;
    if (named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
      return ::write(file.fd(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
  }
}

// Appends numbered lines to a file under its lock, one after another, from
// its construction until Stop.
class LockedAppender {
 public:
  explicit LockedAppender(std::string path)
      : path_(std::move(path)), thread_([this] { Append(); }) {}
  ~LockedAppender() { static_cast<void>(Stop()); }
  // What was appended.
  std::string Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return appended_;
  }

 private:
  void Append() {
    for (int i = 0; !stop_; ++i) {
      const std::string line = "appended " + std::to_string(i) + "\n";
      if (!AppendUnderTheLock(path_, line)) {
        ADD_FAILURE() << "cannot append to " << path_;
        return;
      }
      appended_ += line;
    }
  }

  std::string path_;
  std::atomic<bool> stop_{false};
  std::string appended_;
  std::thread thread_;
};

// ---- Runs at once ---------------------------------------------------------------

// Stations queued behind a supply that another program holds (a stopped
// station, an operator's flock) all get a line of their own once it is let go,
// however many stations take theirs before them.
TEST_F(EndToEndHwidSupplyRewrite, StationsQueuedBehindAHeldSupplyProgramOneHwidEach) {
  constexpr std::size_t kStations = 32;
  const std::vector<std::string> lines = DistinctLines(kStations + 8);
  const std::string supply = Supply(Joined(lines, 0));
  Stations stations;
  {
    // All of them wait for the supply, then race for it when it is let go.
    HeldSupply held(supply);
    ASSERT_TRUE(Queue(kStations, supply, stations));
  }

  const std::set<std::string> programmed = Programmed(stations, lines);

  EXPECT_EQ(programmed, std::set<std::string>(lines.begin(), lines.begin() + kStations));
  EXPECT_EQ(TempDir::Read(supply), Joined(lines, kStations));
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
}

// Lines that an operator appends under the supply's lock while stations take
// theirs are all kept, in their order, and no station fails for them.
TEST_F(EndToEndHwidSupplyRewrite, LinesAppendedUnderTheLockWhileStationsTakeAreKept) {
  constexpr std::size_t kStations = 16;
  const std::vector<std::string> lines = DistinctLines(kStations + 8);
  const std::string supply = Supply(Joined(lines, 0));
  Stations stations;
  std::unique_ptr<LockedAppender> appender;
  {
    HeldSupply held(supply);
    ASSERT_TRUE(Queue(kStations, supply, stations));
    appender = std::make_unique<LockedAppender>(supply);  // waits in the queue too
  }

  const std::set<std::string> programmed = Programmed(stations, lines);
  const std::string appended = appender->Stop();

  EXPECT_EQ(programmed, std::set<std::string>(lines.begin(), lines.begin() + kStations));
  EXPECT_FALSE(appended.empty());
  EXPECT_EQ(TempDir::Read(supply), Joined(lines, kStations) + appended);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
}

// The run that held the supply replaced it: the waiting run reads the new file,
// also when it reaches the supply through a symbolic link.
TEST_F(EndToEndHwidSupplyRewrite, RunWaitingForASupplyReadsTheFileThatReplacedIt) {
  for (const bool through_link : {false, true}) {
    SCOPED_TRACE(through_link ? "through a symbolic link" : "by its name");
    TempDir dir;
    const std::string supply = dir.Write("hwids.txt", LinesFrom(0));
    const std::string link = dir / "current";
    std::filesystem::create_symlink("hwids.txt", link);
    SimulatedBoard board;
    HeldSupply held(supply);
    const auto run = Start(board, through_link ? link : supply);
    ASSERT_TRUE(run->WaitForOut(kWaiting, kPrompt)) << run->err();
    ASSERT_EQ(std::rename(dir.Write("new", LinesFrom(2)).c_str(), supply.c_str()), 0);
    held.Release();

    const ProgramOutcome outcome = run->Wait(kRunDeadline);

    ASSERT_FINISHED(outcome);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, ProgrammedOut(kSupplyLines[2], kWaiting));
    EXPECT_EQ(Slice(board.eeprom(), kHwidAt, 8), HwidBytes(Hwid(kSupplyLines[2])));
    EXPECT_EQ(TempDir::Read(supply), LinesFrom(3));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
  }
}

TEST_F(EndToEndHwidSupplyRewrite, LinesAddedDuringARunAreKept) {
  const std::string supply = Supply(LinesFrom(3));
  board().HoldLoader(true);
  const auto run = Start(board(), supply);
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.loader_held; }, kPrompt));
  std::ofstream(supply, std::ios::binary | std::ios::app) << "AAAAAAAAAAAA\nBBBBBBBBBBBB\n";
  board().HoldLoader(false);

  const ProgramOutcome outcome = run->Wait(kRunDeadline);

  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(Hwid(kSupplyLines[3])));
  EXPECT_EQ(TempDir::Read(supply), LinesFrom(4) + "AAAAAAAAAAAA\nBBBBBBBBBBBB\n");
}

TEST_F(EndToEndHwidSupplyRewrite, SupplyWithASecondNameIsRefusedBeforeTheBoard) {
  const std::string supply = Supply();
  std::filesystem::create_directory(dir_ / "station2");
  std::filesystem::create_hard_link(supply, dir_ / "station2/hwids.txt");

  const ProgramOutcome run = Mrl({"--sethwid", supply, "--hwid_file"});

  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "The HWID text file has more than one name (hard link); its rewrite would part them, "
            "so it is not used.\nInvalid argument received\n");
  ExpectBoardUntouched(board().record());
  EXPECT_EQ(TempDir::Read(supply), LinesFrom(0));
  EXPECT_EQ(std::filesystem::hard_link_count(supply), 2u);
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"hwids.txt", "station2"}));
}

TEST_F(EndToEndHwidSupplyRewrite, SupplyWithTheLongestNameIsUsed) {
  const std::string supply = dir_.Write(std::string(250, 'h') + ".txt", LinesFrom(0));

  const ProgramOutcome run = Mrl({"--sethwid", supply, "--hwid_file"});

  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, ProgrammedOut(kSupplyLines[0]));
  EXPECT_EQ(TempDir::Read(supply), LinesFrom(1));
  EXPECT_EQ(dir_.Names().size(), 1u);
}

// ---- Runs that end early ----------------------------------------------------------

// Killed outright at every point of a run, the supply is whole or without the
// line the board may get, and never whole once the board got it: the line
// leaves the supply when the run takes it, before the download that carries
// it. A temporary file may be left only by a kill at that moment, the
// rewrite's commit, and the next run removes it.
TEST_F(EndToEndHwidSupplyRewrite, RunKilledAnywhereHandsNoHwidOutTwice) {
  if (!TakesUnnamedFiles(dir_)) GTEST_SKIP() << "the file system has no files without a name";
  const std::string whole = LinesFrom(0);
  const Bytes first = HwidBytes(Hwid(kSupplyLines[0]));
  // A whole run, to count its loader commands and find the download of the HWID.
  ASSERT_EQ(Mrl({"--sethwid", Supply(), "--hwid_file"}).status, 0);
  const std::vector<std::uint8_t> commands = Commands(board().record());
  const auto download = std::find(commands.begin(), commands.end(), kDownload);
  ASSERT_NE(download, commands.end());
  // How many commands the board has seen while the host commits the rewrite.
  const std::size_t committing = static_cast<std::size_t>(download - commands.begin());

  struct Moment {
    std::string name;
    std::function<bool(const BoardRecord&)> reached;
    bool may_commit = false;
  };
  std::vector<Moment> moments{
      {"waiting for the supply", nullptr},
      {"just started", [](const BoardRecord&) { return true; }},
      {"board reset", [](const BoardRecord& r) { return r.resets > 0; }},
      {"loader downloaded", [](const BoardRecord& r) { return !r.downloads.empty(); }},
  };
  for (std::size_t k = 1; k <= commands.size(); ++k) {
    moments.push_back({"loader command " + std::to_string(k),
                       [k](const BoardRecord& r) { return r.commands.size() >= k; },
                       k == committing});
  }
  for (const Moment& moment : moments) {
    SCOPED_TRACE(moment.name);
    StartBoard();
    const std::string supply = Supply(whole);
    std::unique_ptr<HeldSupply> held;
    if (!moment.reached) held = std::make_unique<HeldSupply>(supply);
    const auto run = Start(board(), supply);
    if (moment.reached) {
      ASSERT_TRUE(board().WaitUntil(moment.reached, kPrompt));
    } else {
      ASSERT_TRUE(run->WaitForOut(kWaiting, kPrompt)) << run->err();
    }
    run->Signal(SIGKILL);
    const ProgramOutcome outcome = run->Wait(kRunDeadline);
    ASSERT_FALSE(outcome.timed_out);
    // After its last loader command a run may end on its own before the kill.
    if (outcome.signal != SIGKILL) {
      ASSERT_EQ(outcome.signal, 0);
      ASSERT_EQ(outcome.status, 0) << outcome.err;
    }

    const bool programmed = Slice(board().eeprom(), kHwidAt, 8) == first;
    const std::string left = TempDir::Read(supply);
    EXPECT_TRUE(left == whole || left == LinesFrom(1)) << left;
    if (programmed) {
      EXPECT_EQ(left, LinesFrom(1)) << "a HWID on a board is offered no more";
    }
    if (!moment.may_commit) {
      EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
    }
    // What a kill at the commit left, the next run on the supply removes.
    held.reset();
    StartBoard();
    const ProgramOutcome next = Mrl({"--sethwid", supply, "--hwid_file"});
    ASSERT_FINISHED(next);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
  }
}

// A TBF file whose entries go to the given addresses, 100 bytes each.
std::string TbfWithEntriesAt(std::initializer_list<std::uint16_t> addresses) {
  std::vector<TBF::Entry> entries;
  unsigned seed = 1;
  for (const std::uint16_t address : addresses) {
    entries.emplace_back(TBF::Entry::Address(address), qmx::File::Img(Pattern(100, seed++)));
  }
  return TbfFile(TBF::Table(entries));
}

struct FailureCase {
  const char* name;
  std::function<std::vector<std::string>(const TempDir&)> words;  // the firmware options
  bool hwid_went_out;
  bool board_holds_hwid;  // whole, not only maybe
};
void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndHwidSupplyFailure : public EndToEndHwidSupplyRewrite,
                                  public testing::WithParamInterface<FailureCase> {};

// The board refuses the second chunk of every transfer of more than one, so an
// entry of 100 bytes that starts off a 64-byte boundary fails (one at 2 ends
// before the HWID) and the 8 bytes of the HWID go through.
TEST_P(EndToEndHwidSupplyFailure, HwidOnTheBoardIsTakenOffTheSupply) {
  const FailureCase& c = GetParam();
  BoardConfig config;
  config.faults.refused_transfer_chunk = 1;
  StartBoard(config);
  const std::string supply = Supply();
  std::vector<std::string> words{"--sethwid", supply, "--hwid_file"};
  const std::vector<std::string> firmware = c.words(dir_);
  words.insert(words.end(), firmware.begin(), firmware.end());

  const ProgramOutcome run = Mrl(words);

  ASSERT_FINISHED(run);
  EXPECT_NE(run.status, 0);
  const std::string err = AfterStandInWarning(run.err);
  const std::string taken_off = "The board may now hold HWID " + HexForm(Hwid(kSupplyLines[0])) +
                                Base32Form(Hwid(kSupplyLines[0])) +
                                ", so it was taken off the HWID text file.\n";
  const std::size_t said = err.find(taken_off);
  EXPECT_EQ(said != std::string::npos, c.hwid_went_out) << err;
  if (said != std::string::npos) {
    EXPECT_EQ(err.find("HWID", said + taken_off.size()), std::string::npos) << "one line: " << err;
  }
  EXPECT_EQ(TempDir::Read(supply), LinesFrom(c.hwid_went_out ? 1 : 0));
  if (c.board_holds_hwid) {
    EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(Hwid(kSupplyLines[0])));
  }
  EXPECT_EQ(dir_.Names().size(), 2u) << "the supply and the firmware, nothing else";
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, EndToEndHwidSupplyFailure,
    testing::Values(
        FailureCase{"TbfEntryBeforeTheHwid",
                    [](const TempDir& dir) {
                      return std::vector<std::string>{
                          "--tbf", dir.Write("t.tbf", TbfWithEntriesAt({0x2, 0x210}))};
                    },
                    false, false},
        FailureCase{"TbfEntryAfterTheHwid",
                    [](const TempDir& dir) {
                      return std::vector<std::string>{
                          "--tbf", dir.Write("t.tbf", TbfWithEntriesAt({0x210}))};
                    },
                    true, true},
        FailureCase{"XipImageBoundToTheHwid",
                    [](const TempDir& dir) {
                      return std::vector<std::string>{"--xip", dir.Write("a.xip", XipContainer())};
                    },
                    true, false}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
}  // namespace mrl_test
