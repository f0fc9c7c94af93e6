// The HWID text file: its first line becomes the HWID to program, and the
// rest replaces the file at the end of a successful run, never losing the
// supply of HWIDs whatever fails on the way.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileReplacement.h"
#include "HwidActions.h"
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
  EXPECT_EQ(state.new_hwid, HWID::base32ToRaw(kFirst));
  EXPECT_EQ(Contents(file), c.contents) << "reading changes nothing";

  const Result written = mrl::WriteBackHwidFile(state);
  ASSERT_FALSE(written.failed()) << written.msg();
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(Contents(file), c.written_back);
  EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"}) << "no temporary file left";
  EXPECT_EQ(console.out() + console.err(), "");
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

TEST_F(HwidFile, FirstLineOfAnyOtherLengthIsRefused) {
  for (const char* contents : {"", "\n0123456789AB\n", "0123456789A\nCDEFGHJKLMNP\n",
                               "0123456789ABC\n", "0123456789AB\r\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(contents));
    Write(file, contents);
    console.Clear();

    const Result result = mrl::ReadHwidFile(state);

    EXPECT_EQ(static_cast<int>(result), mrl::SpecificError::kInvalidArgument);
    EXPECT_EQ(console.err(), "The text file did not contain a valid HWID!\n");
    EXPECT_EQ(state.new_hwid, HWID::Raw{});
    EXPECT_EQ(Contents(file), contents);
  }
}

TEST_F(HwidFile, MissingFileCannotBeRead) {
  const Result result = mrl::ReadHwidFile(state);
  EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
  EXPECT_EQ(result.msg(), "Cannot open file");
  EXPECT_EQ(console.err(), "Unable to open HWID text file for reading!\n");
}

TEST_F(HwidFile, RunThatFailsBeforeTheWriteBackLeavesTheFileAsItWas) {
  const std::string contents = "0123456789AB\nCDEFGHJKLMNP\n";
  Write(file, contents);

  const Result run = qmx::Error::InOrder<Result>(
      [&] { return mrl::ReadHwidFile(state); },
      [] { return Result(mrl::Error(qmx::GenericPort::Error::kTimedOut)); },
      [&] { return mrl::WriteBackHwidFile(state); });

  EXPECT_EQ(static_cast<int>(run), qmx::GenericPort::Error::kTimedOut);
  EXPECT_EQ(Contents(file), contents);
  mrl::RunState next_run{console.console()};
  next_run.sethwid = file.string();
  ASSERT_FALSE(mrl::ReadHwidFile(next_run).failed());
  EXPECT_EQ(next_run.new_hwid, HWID::base32ToRaw(kFirst));
}

// ---- Writing back -----------------------------------------------------------

TEST_F(HwidFile, SymbolicLinkKeepsLeadingToTheRewrittenFile) {
  Write(file, "0123456789AB\nCDEFGHJKLMNP\n");
  const fs::path link = folder / "current-hwids";
  fs::create_symlink("hwids.txt", link);
  state.sethwid = link.string();

  ASSERT_FALSE(mrl::ReadHwidFile(state).failed());
  const Result result = mrl::WriteBackHwidFile(state);

  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "hwids.txt");
  EXPECT_EQ(Contents(file), "CDEFGHJKLMNP\n");
}

TEST_F(HwidFile, PermissionBitsAreKept) {
  Write(file, "0123456789AB\nCDEFGHJKLMNP\n");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(file, mode);

  ASSERT_FALSE(mrl::ReadHwidFile(state).failed());
  ASSERT_FALSE(mrl::WriteBackHwidFile(state).failed());

  EXPECT_EQ(fs::status(file).permissions(), mode);
}

// Replacement steps that fail where a test wants them to.
class FailingSteps : public mrl::FileReplacementSteps {
 public:
  enum class Where { kCreation, kPartWayThroughTheWrite };
  explicit FailingSteps(Where where) : where_(where) {}

  int CreateTemporary(std::string& name) const override {
    if (where_ == Where::kCreation) {
      errno = EACCES;
      return -1;
    }
    return FileReplacementSteps::CreateTemporary(name);
  }
  bool WriteAll(int fd, std::string_view data) const override {
    // Half of the data reaches the temporary file, then the disk is full.
    static_cast<void>(FileReplacementSteps::WriteAll(fd, data.substr(0, data.size() / 2)));
    errno = ENOSPC;
    return false;
  }

 private:
  Where where_;
};

TEST_F(HwidFile, FailedWriteBackLeavesTheOldFileAndNoTemporaryFile) {
  const std::string contents = "0123456789AB\nCDEFGHJKLMNP\nQRTUVWXY0123\n";
  for (const auto where :
       {FailingSteps::Where::kCreation, FailingSteps::Where::kPartWayThroughTheWrite}) {
    SCOPED_TRACE(static_cast<int>(where));
    Write(file, contents);
    console.Clear();
    mrl::RunState run{console.console()};
    run.sethwid = file.string();
    ASSERT_FALSE(mrl::ReadHwidFile(run).failed());

    const Result result = mrl::WriteBackHwidFile(run, FailingSteps(where));

    EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
    EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\n");
    EXPECT_EQ(Contents(file), contents);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{"hwids.txt"});
  }
}

TEST_F(HwidFile, WriteBackWhereNoFileCanBeCreatedFails) {
  // A folder that is gone, and a folder that takes no new files (/proc) holding
  // a file that must stay as it is.
  const fs::path proc_file = "/proc/version";
  const std::string proc_contents = Contents(proc_file);
  for (const fs::path& path : {folder / "gone" / "hwids.txt", proc_file}) {
    SCOPED_TRACE(path);
    console.Clear();
    state.sethwid = path.string();
    state.hwid_file_lines.str("0123456789AB\nCDEFGHJKLMNP\n");

    const Result result = mrl::WriteBackHwidFile(state);

    EXPECT_TRUE(IsCannotOpenFile(result)) << result.msg();
    EXPECT_EQ(console.err(), "Unable to open HWID text file for writing!\n");
  }
  EXPECT_EQ(Contents(proc_file), proc_contents);
  EXPECT_TRUE(FolderEntries().empty());
}

}  // namespace
