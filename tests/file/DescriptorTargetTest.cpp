#include "file/DescriptorTarget.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/TempDir.h"

namespace {

using qmx::File::DescriptorNamedBy;
using qmx::File::WritableDescriptor;

TEST(DescriptorNamedBy, KnowsEveryNameOfTheProcesssDescriptorsThroughLinks) {
  const mrl_test::TempDir dir;
  const std::string own = std::to_string(::getpid());
  std::filesystem::create_symlink("/dev/stdout", dir / "out");
  std::filesystem::create_symlink("out", dir / "to-out");  // a link to a link, relative
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_symlink("/dev/fd", dir / "fds");  // a link in the middle
  std::filesystem::create_symlink("loop", dir / "loop");
  const std::string file = dir.Write("file", std::string("x"));
  std::filesystem::create_symlink(file, dir / "to-file");
  const std::string other_process = ::getpid() == 1 ? "/proc/2/fd/1" : "/proc/1/fd/1";
  const struct {
    std::string path;
    std::optional<int> fd;
  } cases[] = {
      {"/dev/stdin", 0},
      {"/dev/stdout", 1},
      {"/dev/stderr", 2},
      {"/dev/fd/7", 7},
      {"/dev//fd/./8", 8},
      {"/proc/self/fd/12", 12},
      {"/proc/thread-self/fd/5", 5},
      {"/proc/" + own + "/fd/4", 4},
      {dir / "out", 1},
      {dir / "to-out", 1},
      {dir / "sub/../to-out", 1},
      {dir / "fds/9", 9},
      {"/dev/null", std::nullopt},
      {"/dev/fd/x", std::nullopt},
      {"/dev/fd/-1", std::nullopt},
      {"/dev/fd/3/x", std::nullopt},
      {"/proc/self/fdinfo/1", std::nullopt},
      {other_process, std::nullopt},
      {file, std::nullopt},
      {dir / "to-file", std::nullopt},
      {dir / "missing", std::nullopt},
      {dir / "loop", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescriptorNamedBy(c.path), c.fd) << c.path;
  }
}

TEST(DescriptorNamedBy, FollowsARelativePathFromTheWorkingFolder) {
  const mrl_test::TempDir dir;
  std::filesystem::create_symlink("/dev/stderr", dir / "err");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::optional<int> fd = DescriptorNamedBy("err");
  std::filesystem::current_path(before);
  EXPECT_EQ(fd, 2);
}

// The copy shares the original's position and appending, as a shell's
// redirection left them.
TEST(WritableDescriptor, CopyWritesWhereTheOriginalStands) {
  const mrl_test::TempDir dir;
  for (const int mode : {O_APPEND, O_TRUNC}) {
    const std::string file = dir.Write("log", std::string("old\n"));
    const int original = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | mode);
    ASSERT_GE(original, 0);
    ASSERT_EQ(::write(original, "a", 1), 1);
    {
      const WritableDescriptor copy = WritableDescriptor::CopyOf(original);
      ASSERT_TRUE(copy.usable());
      EXPECT_TRUE(copy.WriteAll("bc"));
    }
    ASSERT_EQ(::write(original, "d", 1), 1);
    ::close(original);
    EXPECT_EQ(mrl_test::TempDir::Read(file), mode == O_APPEND ? "old\nabcd" : "abcd");
  }
}

TEST(WritableDescriptor, OnlyWhatIsOpenForWritingIsUsable) {
  const mrl_test::TempDir dir;
  const std::string file = dir.Write("data", std::string("x"));
  const int read_only = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const int path_only = ::open(file.c_str(), O_PATH | O_CLOEXEC);
  const int closed = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  ::close(closed);
  EXPECT_FALSE(WritableDescriptor::CopyOf(read_only).usable());
  EXPECT_FALSE(WritableDescriptor::CopyOf(path_only).usable());
  EXPECT_FALSE(WritableDescriptor::CopyOf(closed).usable());
  EXPECT_FALSE(WritableDescriptor::Open(dir / "missing").usable());
  ::close(read_only);
  ::close(path_only);
}

// A non-blocking descriptor that is full makes the write wait, not fail.
TEST(WritableDescriptor, WaitsForANonBlockingPipeToTakeMore) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  const std::string bytes(1 << 20, 'p');  // many times what a pipe holds
  std::string received;
  std::thread reader([&] {
    const int flags = ::fcntl(fds[0], F_GETFL);
    ::fcntl(fds[0], F_SETFL, flags & ~O_NONBLOCK);
    char buffer[4096];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
      if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
    }
  });
  {
    const WritableDescriptor writer = WritableDescriptor::CopyOf(fds[1]);
    ::close(fds[1]);
    EXPECT_TRUE(writer.WriteAll(bytes));
  }
  reader.join();
  ::close(fds[0]);
  EXPECT_EQ(received.size(), bytes.size());
}

TEST(WritableDescriptor, AFullDeviceFailsTheWriteWithItsReason) {
  const WritableDescriptor full = WritableDescriptor::Open("/dev/full");
  ASSERT_TRUE(full.usable());
  errno = 0;
  EXPECT_FALSE(full.WriteAll("x"));
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
