#include "file/RegularFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/TempDir.h"

namespace {

using qmx::File::RegularFile;

TEST(RegularFile, OpensARegularFileAndThroughALink) {
  const mrl_test::TempDir dir;
  const std::string file = dir.Write("data.bin", std::string("abcd"));
  std::filesystem::create_symlink(file, dir / "link");
  for (const std::string& path : {file, dir / "link"}) {
    const RegularFile opened = RegularFile::OpenForReading(path);
    ASSERT_TRUE(opened.is_open()) << path;
    EXPECT_EQ(opened.status().st_size, 4);
    char bytes[8];
    EXPECT_EQ(::read(opened.fd(), bytes, sizeof bytes), 4);
  }
}

// None of these may be opened, and none may keep the caller waiting: a FIFO
// without a writer would block a plain open for ever.
TEST(RegularFile, RefusesWhatIsNotARegularFileWithoutWaiting) {
  const mrl_test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    int error;
  } cases[] = {
      {dir.path().string(), EISDIR},
      {dir / "fifo", EINVAL},
      {"/dev/zero", EINVAL},
      {dir / "missing", ENOENT},
  };
  for (const auto& c : cases) {
    errno = 0;
    const RegularFile opened = RegularFile::OpenForReading(c.path);
    EXPECT_FALSE(opened.is_open()) << c.path;
    EXPECT_EQ(opened.fd(), -1) << c.path;
    EXPECT_EQ(errno, c.error) << c.path;
  }
}

TEST(RegularFile, MovingHandsTheDescriptorOver) {
  const mrl_test::TempDir dir;
  RegularFile first = RegularFile::OpenForReading(dir.Write("a", std::string("x")));
  const int fd = first.fd();
  RegularFile second = std::move(first);
  EXPECT_FALSE(first.is_open());
  EXPECT_EQ(second.fd(), fd);
  second = RegularFile{};
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed
}

}  // namespace
