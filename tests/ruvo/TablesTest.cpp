#include <gtest/gtest.h>

#include <random>

#include "ruvo/Crc.h"
#include "ruvo/Tables.h"

namespace {

using namespace Ruvo::detail;

TEST(Crc16Test, StepsGiveTheKnownStates) {
  EXPECT_EQ(0x1D0F, crc16(0xFFFF, 0x0000, 0x1021, 16));
  EXPECT_EQ(0x8000, crc16(0x0000, 0x8000, 0x1021, 16));
  EXPECT_EQ(0x0000, crc16(0x0000, 0x0000, 0x1021, 16));
  // Fewer bits take only the low bits of the data, most significant first.
  EXPECT_EQ(crc16(crc16(0x1234, 0xAB, 0x3D65, 8), 0xCD, 0x3D65, 8),
            crc16(0x1234, 0xABCD, 0x3D65, 16));
}

TEST(Crc16Test, AugmentedCheckWordLeavesStateZero) {
  // The image directory's example entry.
  std::uint16_t state = 0xFFFF;
  for (std::uint16_t w : {0x0B00, 0x0100, 0x0010}) state = absorb(state, w, kDirPoly);
  const std::uint16_t check = crc16(state, 0, kDirPoly, 16);
  EXPECT_EQ(0x36C7, check);
  EXPECT_EQ(0, absorb(state, check, kDirPoly));
}

TEST(Crc16Test, WordStepAgreesWithSixteenBitSteps) {
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const auto crc = static_cast<std::uint16_t>(rng());
    const auto word = static_cast<std::uint16_t>(rng());
    ASSERT_EQ(crc16(crc, word, kXipPoly, 16), absorb<kXipPoly>(crc, word));
    ASSERT_EQ(crc16(crc, word, kStreamPoly, 16), absorb<kStreamPoly>(crc, word));
    ASSERT_EQ(crc16(crc, word, kDirPoly, 16), absorb<kDirPoly>(crc, word));
  }
}

TEST(RotateTest, RotatesLeftModulo16) {
  EXPECT_EQ(0x0003, rotl16(0x8001, 1));
  EXPECT_EQ(0x2468, rotl16(0x2468, 16));
  EXPECT_EQ(0x4682, rotl16(0x2468, 4));
}

TEST(AlignToPageTest, RoundsUpToThePageSize) {
  const int saved = MemoryPageSize;
  struct Case {
    int page, x, aligned;
  };
  for (const Case c : {Case{64, 0, 0}, Case{64, 1, 64}, Case{64, 64, 64}, Case{64, 65, 128},
                       Case{4096, 1, 4096}, Case{4096, 8192, 8192}, Case{4096, 8193, 12288}}) {
    MemoryPageSize = c.page;
    EXPECT_EQ(c.aligned, alignToPage(c.x)) << c.page << " " << c.x;
  }
  MemoryPageSize = saved;
}

TEST(Crc16Test, PairStepAgreesWithTwoWordSteps) {
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) {
    const auto crc = static_cast<std::uint16_t>(rng());
    const auto first = static_cast<std::uint16_t>(rng());
    const auto second = static_cast<std::uint16_t>(rng());
    ASSERT_EQ(absorb<kXipPoly>(absorb<kXipPoly>(crc, first), second),
              absorbPair<kXipPoly>(crc, first, second));
  }
}

TEST(BuildTablesTest, WorkedOutBitReversalAgreesWithTheTable) {
  TablesScope tables;
  ASSERT_FALSE(tables.failed());
  for (int x = 0; x < kSpaceWords; ++x) {
    ASSERT_EQ(g.bitrev[x], reverseBits16(static_cast<std::uint16_t>(x))) << x;
  }
}

TEST(BuildTablesTest, FillsTheTablesAndFreeReleasesThem) {
  {
    TablesScope tables;
    ASSERT_FALSE(tables.failed());
    EXPECT_EQ(0, strP);
    EXPECT_EQ(0, g.popcount[0]);
    EXPECT_EQ(16, g.popcount[0xFFFF]);
    EXPECT_EQ(8, g.popcount[0x0F0F]);
    EXPECT_EQ(1, g.popcount[0x8000]);
    EXPECT_EQ(0x8000, g.bitrev[0x0001]);
    EXPECT_EQ(0xFF00, g.bitrev[0x00FF]);
    EXPECT_EQ(0x0001, g.bitrev[0x8000]);
    EXPECT_EQ(0x2C48, g.bitrev[0x1234]);
    for (int k = 0; k < kFileCount; ++k) {
      ASSERT_EQ(nullptr, g.files[k].name);
      ASSERT_FALSE(g.files[k].spc || g.files[k].bin);
    }
    g.files[7].spc = allocZeroed<std::uint16_t>(kSpaceWords);
    Tl_spc = allocZeroed<std::uint16_t>(kSpaceWords);
  }
  EXPECT_FALSE(g.pool || g.files || g.popcount || g.bitrev || Tl_spc);
  freeTables();  // harmless when nothing is built
}

}  // namespace
