// The HWID to program as the program takes it: typed on the command line or
// taken from a supply file, whose first line a run uses up. Nothing but a
// HWID of the alphabet reaches a board, nothing but a regular file is read,
// and a supply that cannot be rewritten stops the run before the board is
// touched.
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

constexpr off_t kMiB = 1024 * 1024;
// A run that reads no more than it must holds about what a run refusing a tiny
// file holds; reading a large file whole would hold far more.
constexpr long kMemoryAllowanceKib = 32 * 1024;
// What a refusal, or a supply of any size, may cost in processor time.
constexpr milliseconds kCpuAllowance{1000};
// Far beyond the time a run takes to reach the board, also on a busy machine.
constexpr milliseconds kPrompt{10000};

const std::string kInvalidText =
    "Supplied string is not a valid HWID!\nInvalid argument received\n";
const std::string kInvalidLine =
    "The text file did not contain a valid HWID!\nInvalid argument received\n";
const std::string kCannotRead = "Unable to open HWID text file for reading!\nCannot open file\n";
const std::string kCannotWrite = "Unable to open HWID text file for writing!\nCannot open file\n";

const std::string kFirstHwid = "CDEFGHJKLMNP";
const std::string kRestOfSupply = "QRTUVWXY0123\nPPPPPPPPPPPP\r\n";

class EndToEndHwidSupply : public EndToEnd {
 protected:
  // Runs mrl with a supply file, as sethwid with hwid_file.
  ProgramOutcome WithSupply(const std::string& supply) {
    return Mrl({"--sethwid", supply, "--hwid_file"});
  }
  // The run was refused with err before anything reached the board.
  void ExpectRefused(const ProgramOutcome& run, const std::string& err) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, err);
    ExpectBoardUntouched(board().record());
  }
  // The supply still holds contents, alone in its folder.
  void ExpectSupplyKept(const std::string& supply, const std::string& contents) {
    EXPECT_EQ(TempDir::Read(supply), contents);
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
  }
};

// ---- Text outside the alphabet ----------------------------------------------

// Twelve characters, one of which is no HWID character.
const char* const kTypos[] = {"0123456789ab", "CDEFGHJKLMNI", "O123456789AB", "0123456789A-"};

TEST_F(EndToEndHwidSupply, TypedHwidOutsideTheAlphabetIsRefusedBeforeTheBoard) {
  for (const char* typo : kTypos) {
    SCOPED_TRACE(typo);
    StartBoard();
    const ProgramOutcome run = Mrl({"--sethwid", typo});
    ASSERT_FINISHED(run);
    ExpectRefused(run, kInvalidText);
  }
}

TEST_F(EndToEndHwidSupply, SupplyLineOutsideTheAlphabetIsRefusedAndKept) {
  for (const char* typo : kTypos) {
    for (const char* line_end : {"\n", "\r\n"}) {
      SCOPED_TRACE(typo + std::string(line_end == std::string("\n") ? " LF" : " CRLF"));
      StartBoard();
      const std::string contents = typo + std::string(line_end) + kRestOfSupply;
      const std::string supply = dir_.Write("hwids.txt", contents);
      const ProgramOutcome run = WithSupply(supply);
      ASSERT_FINISHED(run);
      ExpectRefused(run, kInvalidLine);
      ExpectSupplyKept(supply, contents);
    }
  }
}

// ---- A supply that cannot be rewritten ------------------------------------

// The unprivileged user, and its group, that runs the program where the test
// runs as root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

TEST_F(EndToEndHwidSupply, SupplyInAFolderThatCannotBeWrittenStopsTheRunBeforeTheBoard) {
  const std::string contents = kFirstHwid + "\n" + kRestOfSupply;
  const std::string supply = dir_.Write("hwids.txt", contents);
  ASSERT_EQ(::chmod(supply.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  std::vector<std::string> words = OnBoard({"--sethwid", supply, "--hwid_file"});
  ProgramOutcome run;
  if (::geteuid() == 0) {
    // Folder permissions do not hold for root: the program runs as nobody,
    // who may use the board's port.
    ASSERT_EQ(::chown(board().device().c_str(), kNobody, kNoGroup), 0) << std::strerror(errno);
    words.insert(words.begin(),
                 {"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNoGroup),
                  "--clear-groups", MrlBinary()});
    run = RunProgram("/usr/bin/setpriv", words, kRunDeadline);
  } else {
    run = RunMrl(words);
  }
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0700), 0);
  ASSERT_FINISHED(run);
  ExpectRefused(run, kCannotWrite);
  ExpectSupplyKept(supply, contents);
}

TEST_F(EndToEndHwidSupply, RewrittenSupplyKeepsItsOwnerGroupAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  const std::string supply = dir_.Write("hwids.txt", kFirstHwid + "\n" + kRestOfSupply);
  ASSERT_EQ(::chown(supply.c_str(), 12345, 12346), 0);
  ASSERT_EQ(::chmod(supply.c_str(), 0640), 0);

  const ProgramOutcome run = WithSupply(supply);

  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(TempDir::Read(supply), kRestOfSupply);
  struct stat rewritten {};
  ASSERT_EQ(::stat(supply.c_str(), &rewritten), 0);
  EXPECT_EQ(rewritten.st_uid, 12345u);
  EXPECT_EQ(rewritten.st_gid, 12346u);
  EXPECT_EQ(rewritten.st_mode & 07777, 0640u);
  EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(HWID::base32ToRaw(kFirstHwid.c_str())));
}

TEST_F(EndToEndHwidSupply, InterruptedRunLeavesNothingInTheSupplysFolder) {
  BoardConfig config;
  config.faults.silent = true;  // the run waits for the boot monitor until interrupted
  StartBoard(config);
  const std::string contents = kFirstHwid + "\n" + kRestOfSupply;
  const std::string supply = dir_.Write("hwids.txt", contents);
  ProgramRun run(MrlBinary(), OnBoard({"--sethwid", supply, "--hwid_file"}));
  ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; }, kPrompt));
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"})
      << "nothing is set aside while the run waits for its board";
  run.Signal(SIGINT);
  const ProgramOutcome outcome = run.Wait(kRunDeadline);
  ASSERT_FINISHED(outcome);
  const std::string interrupted = "SIGINT received, closing program\n";
  ASSERT_GE(outcome.err.size(), interrupted.size()) << outcome.err;
  EXPECT_EQ(outcome.err.substr(outcome.err.size() - interrupted.size()), interrupted);
  ExpectSupplyKept(supply, contents);
}

// ---- Supplies that are no text file, or a huge one ---------------------------

// A file of size bytes that holds head and a hole after it.
std::string SparseFile(const TempDir& dir, const std::string& name, const std::string& head,
                       off_t size) {
  const std::string path = dir.Write(name, head);
  if (::truncate(path.c_str(), size) != 0) ADD_FAILURE() << std::strerror(errno);
  return path;
}

struct HostileCase {
  const char* name;
  std::string err;
};

TEST_F(EndToEndHwidSupply, WhatIsNoSupplyIsRefusedQuicklyAndWithLittleMemory) {
  const ProgramOutcome baseline = WithSupply(dir_.Write("tiny.txt", "abc\n"));
  ASSERT_FINISHED(baseline);
  ASSERT_EQ(baseline.err, kInvalidLine);

  const std::string fifo = dir_ / "fifo";  // without a writer
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string zeros = SparseFile(dir_, "zeros.txt", "", 200 * kMiB);
  const std::string garbage =
      SparseFile(dir_, "garbage.txt", std::string(50000, 'A') + "\n" + kFirstHwid, 200 * kMiB);
  const std::pair<std::string, HostileCase> cases[] = {
      {dir_.path().string(), {"a folder", kCannotRead}},
      {fifo, {"a FIFO without a writer", kCannotRead}},
      {"/dev/zero", {"/dev/zero", kCannotRead}},
      {zeros, {"200 MB of zeros", kInvalidLine}},
      {garbage, {"200 MB after a long first line", kInvalidLine}},
  };
  for (const auto& [path, c] : cases) {
    SCOPED_TRACE(c.name);
    StartBoard();
    const ProgramOutcome run = WithSupply(path);
    ASSERT_FINISHED(run);
    ExpectRefused(run, c.err);
    EXPECT_LE(run.cpu_time, kCpuAllowance);
    EXPECT_LE(run.peak_memory_kib, baseline.peak_memory_kib + kMemoryAllowanceKib);
  }
  EXPECT_EQ(std::filesystem::file_size(garbage), static_cast<std::uintmax_t>(200 * kMiB));
}

TEST_F(EndToEndHwidSupply, HugeSupplyIsUsedWithoutHoldingItsRest) {
  const ProgramOutcome baseline = WithSupply(dir_.Write("tiny.txt", "abc\n"));
  ASSERT_FINISHED(baseline);
  StartBoard();
  const std::string rest = kRestOfSupply + "DDDDDDDDDDDD\n";
  const std::string supply = SparseFile(dir_, "hwids.txt", kFirstHwid + "\n" + rest, 200 * kMiB);

  const ProgramOutcome run = WithSupply(supply);

  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(HWID::base32ToRaw(kFirstHwid.c_str())));
  EXPECT_LE(run.cpu_time, kCpuAllowance);
  EXPECT_LE(run.peak_memory_kib, baseline.peak_memory_kib + kMemoryAllowanceKib);
  struct stat rewritten {};
  ASSERT_EQ(::stat(supply.c_str(), &rewritten), 0);
  EXPECT_EQ(rewritten.st_size, 200 * kMiB - static_cast<off_t>(kFirstHwid.size() + 1));
  EXPECT_LT(rewritten.st_blocks * 512, kMiB) << "the hole was written out";
  std::string head(rest.size(), '\0');
  std::ifstream(supply, std::ios::binary)
      .read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, rest);
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"hwids.txt", "tiny.txt"}));
}

}  // namespace
}  // namespace mrl_test
