// The HWID text file: checked when the run starts, its first line taken off
// it as the HWID to program only when the run needs it, and given back when
// it never went out, never losing the supply of HWIDs whatever fails on the
// way or changes the file meanwhile.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "file/FileReplacement.h"
#include "run/HwidActions.h"
#include "support/ConsoleCapture.h"

namespace {

namespace fs = std::filesystem;
using mrl::Result;
using mrl_test::ConsoleCapture;

const char kFirst[] = "0123456789AB";

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Write(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

// True when result is File::Common error 1 carried the way every file error
// reaches the front end.
bool IsCannotOpenFile(const Result& result) {
  if (!result.failed()) return false;
  const auto* file_error = std::get_if<TCF::Error>(&std::get<1>(result).alternatives());
  if (file_error == nullptr) return false;
  const auto* common = std::get_if<qmx::File::Common::Error>(&file_error->alternatives());
  return common != nullptr && *common == qmx::File::Common::Error::kCannotOpen;
}

// A folder of its own for each test, removed afterwards.
class HwidFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "hwid-file-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    folder = name;
    file = folder / "hwids.txt";
    state.sethwid = file.string();
  }
  void TearDown() override { fs::remove_all(folder); }

  std::vector<fs::path> FolderEntries() const {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
      entries.push_back(entry.path().filename());
    }
    return entries;
  }

  fs::path folder;
  fs::path file;
  ConsoleCapture console;
  mrl::RunState state{console.console()};
};

// ---- Reading ----------------------------------------------------------------

struct GoodFileCase {
  const char* name;
  std::string contents;
  std::string written_back;
};

void PrintTo(const GoodFileCase& c, std::ostream* os) {
  *os << c.name;
}

class GoodHwidFile : public HwidFile, public ::testing::WithParamInterface<GoodFileCase> {};

TEST_P(GoodHwidFile, FirstLineIsTheHwidAndTheRestIsWrittenBack) {
  const GoodFileCase& c = GetParam();
  Write(file, c.contents);

  const Result read = mrl::ReadHwidFile(state);
  ASSERT_FALSE(read.failed()) << read.msg();
  EXPECT_EQ(state.new_hwid, HWID::Raw{}) << "not taken yet";
  EXPECT_EQ(Contents(file), c.contents) << "reading changes nothing";

  const Result taken = mrl::TakeSuppliedHwid(state);
  ASSERT_FALSE(taken.failed()) << taken.msg();
  EXPECT_EQ(state.new_hwid, HWID::base32ToRaw(kFirst));
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(Contents(file), c.written_back);
  EXPECT_EQ(console.out(), "Using supplied HWID " + mrl::HwidToHexStr(state.new_hwid) +
                               " (0123456789AB) to program the board.\n");
  ASSERT_FALSE(mrl::TakeSuppliedHwid(state).failed()) << "once only";

  mrl::HwidGoesOutWith(state, true)();
  const Result written = mrl::WriteBackHwidFile(state);
  ASSERT_FALSE(written.failed()) << written.msg();
  EXPECT_EQ(Contents(file), c.written_back) << "a HWID that went out stays off the file";
  EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"}) << "no temporary file left";
  EXPECT_EQ(console.err(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, GoodHwidFile,
    ::testing::Values(GoodFileCase{"SeveralLines", "0123456789AB\nCDEFGHJKLMNP\nQRTUVWXY0123\n",
                                   "CDEFGHJKLMNP\nQRTUVWXY0123\n"},
                      GoodFileCase{"CrLfLinesKeptByteForByte",
                                   "0123456789AB\r\nCDEFGHJKLMNP\r\nQR\rTU\n",
                                   "CDEFGHJKLMNP\r\nQR\rTU\n"},
                      GoodFileCase{"OneLine", "0123456789AB\n", ""},
                      GoodFileCase{"NoLineFeed", "0123456789AB", ""},
                      GoodFileCase{"BinaryRest", std::string("0123456789AB\n\0\xFF\n", 16),
                                   std::string("\0\xFF\n", 3)}));

TEST_F(HwidFile, FirstLineThatIsNotHwidTextIsRefusedAndKept) {
  const std::string rest = "CDEFGHJKLMNP\n";
  for (const std::string& contents :
       {std::string(), "\n" + rest, "0123456789A\n" + rest, "0123456789ABC\n" + rest,
        "0123456789AB\r\r\n" + rest, "0123456789ab\n" + rest, "0I23456789AB\n" + rest,
        "0123456789AO\r\n" + rest, std::string("0123456789A-"), std::string(12, '\0') + "\n" + rest,
        std::string(100000, 'A') + "\n" + rest}) {
    SCOPED_TRACE(testing::PrintToString(contents.substr(0, 20)));
    Write(file, contents);
    console.Clear();

    const Result result = mrl::ReadHwidFile(state);

    EXPECT_EQ(static_cast<int>(result), mrl::SpecificError::kInvalidArgument);
    EXPECT_EQ(console.err(), "The text file did not contain a valid HWID!\n");
    EXPECT_EQ(state.new_hwid, HWID::Raw{});
    EXPECT_FALSE(state.hwid_supply);
    EXPECT_EQ(Contents(file), contents);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
  }
}

TEST_F(HwidFile, WhatIsNotARegularFileIsNotRead) {
  const fs::path fifo = folder / "fifo";  // no writer: opening it to read would wait
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& path : {folder / "missing.txt", folder, fifo, fs::path("/dev/zero")}) {
    SCOPED_TRACE(path);
    console.Clear();
    state.sethwid = path.string();

    const Result result = mrl::ReadHwidFile(state);

    EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
    EXPECT_EQ(result.msg(), "Cannot open file");
    EXPECT_EQ(console.err(), "Unable to open HWID text file for reading!\n");
    EXPECT_FALSE(state.hwid_supply);
  }
}

TEST_F(HwidFile, ExtractIntoTheSupplyIsRefused) {
  const std::string contents = "0123456789AB\nCDEFGHJKLMNP\n";
  Write(file, contents);
  fs::create_symlink("hwids.txt", folder / "dump.bin");
  for (const fs::path& extract : {file, folder / "dump.bin", folder / "." / "hwids.txt"}) {
    SCOPED_TRACE(extract);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    run.extract_file = extract.string();

    const Result result = mrl::ReadHwidFile(run);

    EXPECT_EQ(static_cast<int>(result), mrl::SpecificError::kInvalidArgument);
    EXPECT_EQ(console.err(),
              "The extract file is the HWID text file; the EEPROM's bytes would take the place "
              "of its HWIDs.\n");
    EXPECT_FALSE(run.hwid_supply);
    EXPECT_EQ(Contents(file), contents);
  }
  state.extract_file = (folder / "other.bin").string();
  EXPECT_FALSE(mrl::ReadHwidFile(state).failed()) << "another file, even a new one";
}

// ---- Taking the HWID ------------------------------------------------------------

TEST_F(HwidFile, SymbolicLinkKeepsLeadingToTheRewrittenFile) {
  Write(file, "0123456789AB\nCDEFGHJKLMNP\n");
  const fs::path link = folder / "current-hwids";
  fs::create_symlink("hwids.txt", link);
  state.sethwid = link.string();

  ASSERT_FALSE(mrl::ReadHwidFile(state).failed());
  const Result result = mrl::TakeSuppliedHwid(state);

  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "hwids.txt");
  EXPECT_EQ(Contents(file), "CDEFGHJKLMNP\n");
}

TEST_F(HwidFile, OwnerGroupAndPermissionBitsAreKept) {
  Write(file, "0123456789AB\nCDEFGHJKLMNP\n");
  const bool may_give_away = ::geteuid() == 0;
  const uid_t owner = may_give_away ? 12345 : ::geteuid();
  const gid_t group = may_give_away ? 12346 : ::getegid();
  ASSERT_EQ(::chown(file.c_str(), owner, group), 0);
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(file, mode);

  ASSERT_FALSE(mrl::ReadHwidFile(state).failed());
  ASSERT_FALSE(mrl::TakeSuppliedHwid(state).failed());

  struct stat rewritten {};
  ASSERT_EQ(::stat(file.c_str(), &rewritten), 0);
  EXPECT_EQ(rewritten.st_uid, owner);
  EXPECT_EQ(rewritten.st_gid, group);
  EXPECT_EQ(fs::status(file).permissions(), mode);
  EXPECT_EQ(Contents(file), "CDEFGHJKLMNP\n");
}

// Replacement steps that fail where a test wants them to, as the system would.
class FailingSteps : public qmx::File::FileReplacementSteps {
 public:
  enum class Where { kCreation, kPartWayThroughTheWrite, kSync, kRename };
  explicit FailingSteps(Where where) : where_(where) {}

  int CreateUnnamed(const std::string& folder, mode_t mode) const override {
    if (where_ != Where::kCreation) return FileReplacementSteps::CreateUnnamed(folder, mode);
    errno = EACCES;  // a folder the user may not write to
    return -1;
  }
  int CreateNamed(const std::string& name, mode_t mode) const override {
    if (where_ != Where::kCreation) return FileReplacementSteps::CreateNamed(name, mode);
    errno = EACCES;
    return -1;
  }
  bool WriteAll(int fd, std::string_view data) const override {
    if (where_ != Where::kPartWayThroughTheWrite) return FileReplacementSteps::WriteAll(fd, data);
    // Half of the data reaches the temporary file, then the disk is full.
    static_cast<void>(FileReplacementSteps::WriteAll(fd, data.substr(0, data.size() / 2)));
    errno = ENOSPC;
    return false;
  }
  bool Sync(int fd) const override {
    if (where_ != Where::kSync) return FileReplacementSteps::Sync(fd);
    errno = ENOSPC;
    return false;
  }
  bool Rename(const std::string& from, const std::string& to) const override {
    if (where_ != Where::kRename) return FileReplacementSteps::Rename(from, to);
    errno = EXDEV;
    return false;
  }

 private:
  Where where_;
};

const std::string kSupply = "0123456789AB\nCDEFGHJKLMNP\nQRTUVWXY0123\n";

TEST_F(HwidFile, SupplyThatCannotBeRewrittenFailsWhenReadAndStaysAsItWas) {
  for (const auto where :
       {FailingSteps::Where::kCreation, FailingSteps::Where::kPartWayThroughTheWrite}) {
    SCOPED_TRACE(static_cast<int>(where));
    Write(file, kSupply);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();

    const Result result = mrl::ReadHwidFile(run, FailingSteps(where));

    EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
    EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\n");
    EXPECT_EQ(run.new_hwid, HWID::Raw{});
    EXPECT_FALSE(run.hwid_supply);
    EXPECT_EQ(Contents(file), kSupply);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
  }
}

TEST_F(HwidFile, TakeWhoseRewriteFailsKeepsTheHwidOnOffer) {
  for (const auto where : {FailingSteps::Where::kSync, FailingSteps::Where::kRename}) {
    SCOPED_TRACE(static_cast<int>(where));
    Write(file, kSupply);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());

    const Result result = mrl::TakeSuppliedHwid(run, FailingSteps(where));

    EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
    EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\n");
    EXPECT_EQ(console.out(), "") << "no HWID announced";
    EXPECT_EQ(run.new_hwid, HWID::Raw{});
    EXPECT_EQ(Contents(file), kSupply);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
    EXPECT_TRUE(mrl::SettleHwidSupply(run, result).failed());
    EXPECT_EQ(Contents(file), kSupply) << "nothing to give back";
  }
}

// The file as the take finds it, not as the check found it: another run's
// take, an editor's save (a new file renamed over it) or an edit in place
// since the run started.
TEST_F(HwidFile, TakeReadsWhatTheFileHoldsThen) {
  const std::string edited = "QRTUVWXY0123\nCDEFGHJKLMNP\nAAAAAAAAAAAA\n";
  const struct {
    const char* name;
    std::function<void()> change;
  } cases[] = {
      {"edited in place", [&] { Write(file, edited); }},
      {"saved by an editor",
       [&] {
         Write(folder / "hwids.txt~", edited);
         fs::rename(folder / "hwids.txt~", file);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(file, kSupply);
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());
    c.change();

    ASSERT_FALSE(mrl::TakeSuppliedHwid(run).failed());

    EXPECT_EQ(run.new_hwid, HWID::base32ToRaw("QRTUVWXY0123"));
    EXPECT_EQ(Contents(file), "CDEFGHJKLMNP\nAAAAAAAAAAAA\n");
  }
}

// Steps whose disk sync finds a line appended to the file by a program that
// does not lock it, the first edits times: the rewrite holding the lock sees
// the file changed under it before it takes its place.
class AppendDuringSync : public qmx::File::FileReplacementSteps {
 public:
  AppendDuringSync(fs::path file, int edits) : file_(std::move(file)), edits_(edits) {}
  bool Sync(int fd) const override {
    if (made_ < edits_) {
      ++made_;
      std::ofstream(file_, std::ios::binary | std::ios::app) << "AAAAAAAAAAAA\n";
    }
    return FileReplacementSteps::Sync(fd);
  }
  int made() const { return made_; }

 private:
  fs::path file_;
  int edits_;
  mutable int made_ = 0;
};

// The appended lines stay; a file that never stops changing under the rewrite
// ends the take rather than keeping it busy.
TEST_F(HwidFile, TakeStartsAgainWhileTheFileChangesUnderItAndThenGivesUp) {
  const struct {
    const char* name;
    int edits;
    bool taken;
  } cases[] = {{"three edits", 3, true}, {"edits without end", 1000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(file, kSupply);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());
    const AppendDuringSync steps(file, c.edits);

    const Result result = mrl::TakeSuppliedHwid(run, steps);

    EXPECT_EQ(result.failed(), !c.taken) << result.msg();
    const std::string appended = [&] {
      std::string lines;
      for (int i = 0; i < steps.made(); ++i) lines += "AAAAAAAAAAAA\n";
      return lines;
    }();
    if (c.taken) {
      EXPECT_EQ(steps.made(), c.edits);
      EXPECT_EQ(run.new_hwid, HWID::base32ToRaw(kFirst));
      EXPECT_EQ(Contents(file), kSupply.substr(13) + appended);
    } else {
      EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
      EXPECT_LT(steps.made(), c.edits);
      EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\n");
      EXPECT_EQ(run.new_hwid, HWID::Raw{});
      EXPECT_EQ(Contents(file), kSupply + appended);
    }
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
  }
}

// ---- A run that fails after the HWID was taken ----------------------------------

TEST_F(HwidFile, HwidThatNeverWentOutIsGivenBack) {
  const std::string hwid = mrl::HwidToHexStr(HWID::base32ToRaw(kFirst)) + " (0123456789AB)";
  const std::string rest = "CDEFGHJKLMNP\nQRTUVWXY0123\n";
  const Result failed = mrl::Error(qmx::GenericPort::Error::kTimedOut);
  const Result succeeded = qmx::Error::None{};
  enum class Step { kNone, kTaken, kSent };
  const struct {
    const char* name;
    Step step;
    Result result;  // of the action that follows
    std::string contents;
    std::string err;
  } cases[] = {
      {"a failure before the HWID was taken", Step::kNone, failed, kSupply, ""},
      {"a failure before it went out", Step::kTaken, failed, kSupply, ""},
      {"a success before it went out", Step::kTaken, succeeded, rest, ""},
      {"a failure after it went out", Step::kSent, failed, rest,
       "The board may now hold HWID " + hwid + ", so it was taken off the HWID text file.\n"},
      {"no failure after it went out", Step::kSent, succeeded, rest, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(file, kSupply);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());
    if (c.step != Step::kNone) {
      ASSERT_FALSE(mrl::TakeSuppliedHwid(run).failed());
      EXPECT_EQ(Contents(file), rest) << "taken off when taken";
    }
    if (c.step == Step::kSent) mrl::HwidGoesOutWith(run, true)();
    EXPECT_FALSE(mrl::HwidGoesOutWith(run, false)) << "only a transfer that carries it";
    console.Clear();

    const Result settled = mrl::SettleHwidSupply(run, c.result);

    EXPECT_EQ(static_cast<int>(settled), static_cast<int>(c.result)) << "passed on";
    EXPECT_EQ(Contents(file), c.contents);
    EXPECT_EQ(console.err(), c.err);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
  }
}

// What others did to the file since the HWID was taken stays; the HWID comes
// first again, with a line end of its own where lines follow it.
TEST_F(HwidFile, GivingBackKeepsWhatCameSince) {
  const Result failed = mrl::Error(qmx::GenericPort::Error::kTimedOut);
  const struct {
    const char* name;
    std::string contents;
    std::string since;  // what the file holds when the HWID is given back
    std::string given_back;
  } cases[] = {
      {"another run took the next line", kSupply, "QRTUVWXY0123\n", "0123456789AB\nQRTUVWXY0123\n"},
      {"lines added", "0123456789AB\r\nCDEFGHJKLMNP\r\n", "CDEFGHJKLMNP\r\nAAAAAAAAAAAA\r\n",
       "0123456789AB\r\nCDEFGHJKLMNP\r\nAAAAAAAAAAAA\r\n"},
      {"the last line, emptied", "0123456789AB", "", "0123456789AB"},
      {"the last line, then another added", "0123456789AB", "CDEFGHJKLMNP",
       "0123456789AB\nCDEFGHJKLMNP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(file, c.contents);
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());
    ASSERT_FALSE(mrl::TakeSuppliedHwid(run).failed());
    Write(file, c.since);

    EXPECT_EQ(static_cast<int>(mrl::SettleHwidSupply(run, failed)),
              qmx::GenericPort::Error::kTimedOut);

    EXPECT_EQ(Contents(file), c.given_back);
  }
}

TEST_F(HwidFile, HwidThatCannotBeGivenBackIsSaid) {
  Write(file, kSupply);
  ASSERT_FALSE(mrl::ReadHwidFile(state).failed());
  ASSERT_FALSE(mrl::TakeSuppliedHwid(state).failed());
  console.Clear();

  const Result result = mrl::WriteBackHwidFile(state, FailingSteps(FailingSteps::Where::kRename));

  EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
  EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\nHWID " +
                               mrl::HwidToHexStr(HWID::base32ToRaw(kFirst)) +
                               " (0123456789AB) did not reach the board, but could not be put "
                               "back on the HWID text file.\n");
  EXPECT_EQ(Contents(file), "CDEFGHJKLMNP\nQRTUVWXY0123\n");
  EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
}

}  // namespace
