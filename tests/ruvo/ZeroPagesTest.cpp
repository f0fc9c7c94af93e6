#include "ruvo/ZeroPages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "ruvo/Space.h"
#include "ruvo/Tables.h"

namespace {

using namespace Ruvo::detail;

// How many pages of the bytes at p are resident.
std::size_t residentPages(const void* p, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> pages((bytes + page - 1) / page);
  if (mincore(const_cast<void*>(p), bytes, pages.data()) != 0) {
    ADD_FAILURE() << "mincore failed";
    return 0;
  }
  std::size_t resident = 0;
  for (const unsigned char flags : pages) resident += flags & 1u;
  return resident;
}

TEST(ZeroPagesTest, BuffersAreZeroAndOnlyWrittenPagesBecomeResident) {
  auto space = allocZeroed<std::uint16_t>(kSpaceWords);
  ASSERT_TRUE(space);
  const std::size_t bytes = 2 * kSpaceWords;
  EXPECT_EQ(0u, residentPages(space.get(), bytes));
  space[0xC000] = 0x1234;
  EXPECT_EQ(1u, residentPages(space.get(), bytes));
  EXPECT_EQ(0, space[0xBFFF]);
  EXPECT_EQ(0x1234, space[0xC000]);
}

TEST(ZeroPagesTest, BuildingTheTablesLeavesThePoolUntouched) {
  TablesScope tables;
  ASSERT_FALSE(tables.failed());
  EXPECT_EQ(0u, residentPages(g.pool.get(), kPoolBytes));
  const Space space = newSpc();
  EXPECT_EQ(0u, residentPages(space.get(), 2 * kSpaceWords));
}

#if defined(__SANITIZE_ADDRESS__)
#define MRL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MRL_UNDER_ASAN 1
#endif
#endif

TEST(ZeroPagesDeathTest, AccessPastTheEndIsReportedUnderAddressSanitizer) {
#ifdef MRL_UNDER_ASAN
  auto buffer = allocZeroed<std::uint8_t>(100);
  ASSERT_TRUE(buffer);
  volatile std::uint8_t* bytes = buffer.get();
  bytes[99] = 1;
  EXPECT_DEATH(bytes[100] = 1, "use-after-poison");
#else
  GTEST_SKIP() << "needs AddressSanitizer";
#endif
}

}  // namespace
