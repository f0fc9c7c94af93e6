#include "process/OutputWatch.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

// What file holds on the disk, read back through its own descriptor.
std::string Contents(std::FILE* file) {
  std::string text(256, '\0');
  const ssize_t got = ::pread(::fileno(file), text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// Over a fully buffered C stream (a file), each line goes out as soon as it is
// complete, whether it ends with a line feed or a carriage return, and whether
// it comes in one piece or character by character.
TEST(WatchedFileBuf, HandsOnEachLineWhenItIsComplete) {
  std::FILE* const file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  mrl::WatchedFileBuf buffer(file);
  std::ostream out(&buffer);
  const struct {
    const char* written;
    bool by_character;
    std::string on_disk;
  } steps[] = {
      {"Starting file download", false, ""},
      {" to Quarn2.\nDownload", false, "Starting file download to Quarn2.\nDownload"},
      {" in progress.", true, "Starting file download to Quarn2.\nDownload"},
      {"\n", true, "Starting file download to Quarn2.\nDownload in progress.\n"},
      {"Sending data: 50% done\r", false,
       "Starting file download to Quarn2.\nDownload in progress.\nSending data: 50% done\r"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.written);
    if (step.by_character) {
      for (const char* c = step.written; *c != '\0'; ++c) out.put(*c);
    } else {
      out << step.written;
    }
    EXPECT_EQ(Contents(file), step.on_disk);
  }
  EXPECT_TRUE(out.good());
  EXPECT_EQ(buffer.Finish(), 0);
  std::fclose(file);
}

// A line that cannot go out fails the stream that wrote it, and is kept as
// the first failure, for the end of the run.
TEST(WatchedFileBuf, KeepsTheFirstFailure) {
  std::FILE* const file = std::fopen("/dev/full", "w");
  ASSERT_NE(file, nullptr);
  mrl::WatchedFileBuf buffer(file);
  std::ostream out(&buffer);
  out << "lost\n";
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(buffer.Finish(), ENOSPC);
  std::fclose(file);
}

}  // namespace
