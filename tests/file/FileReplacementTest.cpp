// Replacing a file by the part of another one that follows an offset: copied
// through, holes kept, prepared next to the file and put in its place only on
// commit.
#include "file/FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

using mrl_test::TempDir;
using qmx::File::FileReplacement;

constexpr off_t kMiB = 1024 * 1024;

// A file open for reading, closed at the end of the test.
struct Source {
  explicit Source(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Source() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
};

struct CopyCase {
  const char* name;
  std::string contents;
  off_t from;
  std::string copied;
};

TEST(FileReplacement, CopiesWhatFollowsTheOffsetAndTakesTheFilesPlace) {
  const std::string binary("ab\0\xFF\ncd", 8);
  const CopyCase cases[] = {
      {"whole", binary, 0, binary},
      {"after a line", "first\nsecond\n", 6, "second\n"},
      {"at the end", "first\n", 6, ""},
      {"beyond the end", "first", 6, ""},
      {"empty", "", 0, ""},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string target = dir.Write("target", "old contents");
    const std::string source = dir.Write("source", c.contents);

    FileReplacement replacement(target);
    ASSERT_TRUE(replacement.ready());
    const Source from(source);
    ASSERT_TRUE(replacement.CopyFrom(from.fd, c.from));
    EXPECT_EQ(TempDir::Read(target), "old contents") << "untouched until the commit";
    ASSERT_TRUE(replacement.Commit());

    EXPECT_EQ(TempDir::Read(target), c.copied);
    EXPECT_FALSE(replacement.ready());
  }
}

TEST(FileReplacement, HolesStayHoles) {
  TempDir dir;
  const std::string target = dir.Write("target", "old");
  const std::string source = dir.Write("source", "skip\ndata");
  {
    const int fd = ::open(source.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "more", 4, 64 * kMiB), 4);
    ASSERT_EQ(::ftruncate(fd, 200 * kMiB), 0);
    ::close(fd);
  }

  FileReplacement replacement(target);
  const Source from(source);
  ASSERT_TRUE(replacement.CopyFrom(from.fd, 5));
  ASSERT_TRUE(replacement.Commit());

  struct stat copied {};
  ASSERT_EQ(::stat(target.c_str(), &copied), 0);
  EXPECT_EQ(copied.st_size, 200 * kMiB - 5);
  EXPECT_LT(copied.st_blocks * 512, kMiB) << "the holes were written out";
  const Source result(target);
  char bytes[4] = {};
  ASSERT_EQ(::pread(result.fd, bytes, 4, 0), 4);
  EXPECT_EQ(std::string(bytes, 4), "data");
  ASSERT_EQ(::pread(result.fd, bytes, 4, 64 * kMiB - 5), 4);
  EXPECT_EQ(std::string(bytes, 4), "more");
  ASSERT_EQ(::pread(result.fd, bytes, 4, 100 * kMiB), 4);
  EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
}

TEST(FileReplacement, UncommittedReplacementLeavesNothingBehind) {
  TempDir dir;
  const std::string target = dir.Write("target", "old contents");
  const std::string source = dir.Write("source", "new contents");
  {
    FileReplacement replacement(target);
    const Source from(source);
    ASSERT_TRUE(replacement.CopyFrom(from.fd, 0));
  }
  EXPECT_EQ(TempDir::Read(target), "old contents");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"source", "target"}));
}

TEST(FileReplacement, IsNotReadyWhereNoRegularFileCanBeReplaced) {
  TempDir dir;
  // A folder that takes no new files (/proc) holds a file that must stay as it is.
  const std::string proc_contents = TempDir::Read("/proc/version");
  for (const std::string& path : {dir / "missing", dir / "gone/target", dir.path().string(),
                                  std::string("/dev/null"), std::string("/proc/version")}) {
    SCOPED_TRACE(path);
    FileReplacement replacement(path);
    EXPECT_FALSE(replacement.ready());
    EXPECT_FALSE(replacement.CopyFrom(STDIN_FILENO, 0));
    EXPECT_FALSE(replacement.Commit());
  }
  EXPECT_EQ(TempDir::Read("/proc/version"), proc_contents);
  EXPECT_TRUE(dir.Names().empty());
}

// Steps of a file system that has no files without a name.
class NamedOnly : public qmx::File::FileReplacementSteps {
 public:
  int CreateUnnamed(const std::string&, mode_t) const override {
    errno = EOPNOTSUPP;
    return -1;
  }
};

TEST(FileReplacement, TemporaryFileHasANameOnlyWhereItMust) {
  const struct {
    const char* name;
    bool unnamed;
    std::size_t during;  // entries of the folder while the replacement is pending
  } cases[] = {{"without a name", true, 1}, {"with a name", false, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.unnamed && qmx::File::FileReplacementSteps().CreateUnnamed(dir.path(), 0600) < 0) {
      continue;  // the file system has none
    }
    const NamedOnly named_only;
    const qmx::File::FileReplacementSteps plain;
    const qmx::File::FileReplacementSteps& steps = c.unnamed ? plain : named_only;
    // The longest name a file may have leaves no room for a suffix.
    const std::string target = dir.Write(std::string(255, 'n'), "old");
    FileReplacement replacement(target, FileReplacement::Target::kRegularFile, steps);
    ASSERT_TRUE(replacement.ready());
    ASSERT_TRUE(replacement.Write("new", steps));
    EXPECT_EQ(dir.Names().size(), c.during);
    ASSERT_TRUE(replacement.Commit(steps));
    EXPECT_EQ(TempDir::Read(target), "new");
    EXPECT_EQ(dir.Names().size(), 1u);
  }
}

// The name that a process killed while it replaced target leaves beside it:
// the temporary file of a replacement that was neither committed nor dropped.
std::string LeftByAKilledProcess(const TempDir& dir, const std::string& target) {
  const std::vector<std::string> before = dir.Names();
  const pid_t child = ::fork();
  if (child == 0) {
    const NamedOnly steps;
    FileReplacement replacement(target, FileReplacement::Target::kRegularFile, steps);
    ::_exit(replacement.Write("partial", steps) ? 0 : 1);
  }
  int status = -1;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  for (const std::string& name : dir.Names()) {
    if (std::find(before.begin(), before.end(), name) == before.end()) return name;
  }
  ADD_FAILURE() << "nothing left";
  return {};
}

// The number of a process that has ended.
std::string EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return std::to_string(child);
}

// A replacement removes what killed replacements of its own file left, also
// under a name cut to fit, and no name of another file's, of a process that
// still runs, or of another form.
TEST(FileReplacement, RemovesWhatKilledReplacementsOfItsFileLeft) {
  TempDir dir;
  const std::string dead = EndedProcess();
  const std::string running = std::to_string(::getppid());
  for (const std::string& name : {std::string("hwids.txt"), std::string(255, 'n')}) {
    SCOPED_TRACE(name.substr(0, 20));
    const std::string target = dir.Write(name, "old");
    const std::string left = LeftByAKilledProcess(dir, target);
    ASSERT_EQ(left.compare(0, 9, "." + name.substr(0, 8)), 0) << left;
    if (name.size() == 255) {
      EXPECT_EQ(left.size(), 255u) << "cut to fit: " << left;
    }
    const std::vector<std::string> others{
        ".notes.mrl-" + dead + ".Ab12Cd",  // another file's
        LeftByAKilledProcess(dir, dir.Write("other", "old")),
        "." + name.substr(0, 8) + ".mrl-" + dead + ".Ab12Cd",  // a file whose name starts so
        ".hwids.txt.mrl-" + running + ".Ab12Cd",               // a process that runs
        ".hwids.txt.mrl-0" + dead + ".Ab12Cd",                 // no number this program writes
        ".hwids.txt.mrl-" + dead + ".Ab12C",  // suffixes of other lengths and characters
        ".hwids.txt.mrl-" + dead + ".Ab12Cd7",
        ".hwids.txt.mrl-" + dead + ".Ab-2Cd",
        "hwids.txt.mrl-" + dead + ".Ab12Cd",  // not hidden
    };
    for (const std::string& other : others) {
      if (!std::filesystem::exists(dir / other)) dir.Write(other, "the user's");
    }

    FileReplacement replacement(target);
    ASSERT_TRUE(replacement.ready());

    EXPECT_FALSE(std::filesystem::exists(dir / left)) << left;
    for (const std::string& other : others) {
      EXPECT_TRUE(std::filesystem::exists(dir / other)) << other;
    }
  }
}

TEST(FileReplacement, PendingNamedTemporaryFilesAreRemovedOnRequest) {
  TempDir dir;
  const std::string target = dir.Write("target", "old");
  const NamedOnly steps;
  FileReplacement replacement(target, FileReplacement::Target::kRegularFile, steps);
  ASSERT_TRUE(replacement.Write("new", steps));
  ASSERT_EQ(dir.Names().size(), 2u);
  qmx::File::RemovePendingReplacements();
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"target"});
  EXPECT_FALSE(replacement.Commit(steps)) << "its file is gone";
  EXPECT_EQ(TempDir::Read(target), "old");
}

// The set-user-id, set-group-id and sticky bits stay with the other
// permission bits, also where the new file takes the old one's owner and
// group, which clears them.
TEST(FileReplacement, KeepsThePermissionBitsWithTheSpecialOnes) {
  const bool may_give_away = ::geteuid() == 0;
  const uid_t owner = may_give_away ? 12345 : ::geteuid();
  const gid_t group = may_give_away ? 12346 : ::getegid();
  for (const mode_t mode : {04644, 02664, 01644, 07755, 06750, 0640}) {
    SCOPED_TRACE(testing::Message() << std::oct << mode);
    TempDir dir;
    const std::string target = dir.Write("target", "old");
    ASSERT_EQ(::chown(target.c_str(), owner, group), 0);
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ASSERT_EQ(before.st_mode & 07777, mode) << "the system keeps the bits";

    FileReplacement replacement(target);
    ASSERT_TRUE(replacement.Write("new"));
    ASSERT_TRUE(replacement.Commit());

    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(TempDir::Read(target), "new");
  }
}

TEST(FileReplacement, NewFileIsCreatedOnlyByTheCommit) {
  TempDir dir;
  const std::string target = dir / "new";
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "dropped");
    {
      FileReplacement replacement(target, FileReplacement::Target::kRegularFileOrNew);
      ASSERT_TRUE(replacement.ready());
      ASSERT_TRUE(replacement.Write("bytes"));
      EXPECT_FALSE(std::filesystem::exists(target));
      if (commit) {
        ASSERT_TRUE(replacement.Commit());
      }
    }
    EXPECT_EQ(std::filesystem::exists(target), commit);
  }
  EXPECT_EQ(TempDir::Read(target), "bytes");
  EXPECT_FALSE(FileReplacement(target + "/below").ready());
  EXPECT_FALSE(FileReplacement(dir / "absent").ready()) << "only a new file may be absent";
}

}  // namespace
