#include "process/SignalEnd.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using std::chrono::milliseconds;

// What file holds, read back through its own descriptor.
std::string Contents(std::FILE* file) {
  std::string text(64, '\0');
  const ssize_t got = ::pread(::fileno(file), text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// A file that another thread keeps locked, as a write that blocks does, is
// given up after the wait and keeps what it buffered; a free one is flushed.
TEST(FlushUnlessHeld, GivesUpOnAFileThatAnotherThreadHolds) {
  std::FILE* const file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("kept", file), 0);

  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    ::flockfile(file);
    held.store(true);
    while (!release.load()) std::this_thread::sleep_for(milliseconds(1));
    ::funlockfile(file);
  });
  while (!held.load()) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_FALSE(mrl::FlushUnlessHeld(file, milliseconds(20)));
  EXPECT_EQ(Contents(file), "");
  release.store(true);
  holder.join();

  EXPECT_TRUE(mrl::FlushUnlessHeld(file, milliseconds(20)));
  EXPECT_EQ(Contents(file), "kept");
  std::fclose(file);
}

// The deadline ends the process with its status while the calling thread
// waits for good, here on a pipe that nobody writes.
TEST(EndProcessWithin, EndsAProcessWhoseThreadBlocks) {
  EXPECT_EXIT(
      {
        int fds[2];
        if (::pipe(fds) != 0) std::_Exit(1);
        mrl::EndProcessWithin(milliseconds(50), 7);
        char c = 0;
        static_cast<void>(::read(fds[0], &c, 1));
        std::_Exit(2);
      },
      testing::ExitedWithCode(7), "");
}

}  // namespace
