#include "ruvo/MrRecord.h"

#include <gtest/gtest.h>

#include "AnalysisSupport.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace {

using namespace Ruvo::detail;
using ruvo_test::Bootmon;
using ruvo_test::Words;

constexpr std::array<std::uint16_t, 4> kHwid = {0x1111, 0x2222, 0x3333, 0x4444};

std::uint16_t rotl(std::uint16_t x, int n) {
  return static_cast<std::uint16_t>((x << n) | (x >> (16 - n)));
}

class MrRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tables_.failed());
    record_.assign(2 * kRecordWords, 0);
  }

  // Analyses a fixture boot monitor and announces a directory in entry 0.
  void prepare(const Bootmon& bootmon) {
    ASSERT_EQ(0, ruvo_test::analyse(bootmon));
    g.files[0].pos = 0x0B012345;
    g.files[0].len = 12;
  }

  int encode() { return MRencoder(g.files[0].spc.get(), record_.data(), &length_, kHwid); }

  std::uint16_t word(int i) const {
    return static_cast<std::uint16_t>(record_[2 * i] << 8 | record_[2 * i + 1]);
  }

  // Rebuilds the space from the record's blocks, which start at word first.
  Words blocksToSpace(int first) const {
    Words space(ruvo_test::kSpaceWords, 0);
    int i = first;
    while (word(i) != 0) {
      int address = word(i++);
      while (word(i) != 0) space[address++] = word(i++);
      ++i;
      if (address == 0x10000) break;
    }
    return space;
  }

  TablesScope tables_;
  std::vector<std::uint8_t> record_;
  int length_ = 0;
};

TEST_F(MrRecordTest, RecordOf52NoticesHasTheHeaderLayout) {
  std::mt19937 rng(52);
  const Bootmon bootmon = ruvo_test::makeBootmon(rng, {52});
  prepare(bootmon);
  const Words before(g.files[0].spc.get(), g.files[0].spc.get() + kSpaceWords);
  ASSERT_EQ(0, encode());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), g.files[0].spc.get()));  // unchanged

  EXPECT_EQ(0xCE3B, word(0));
  EXPECT_EQ(bootmon.space[0xC002] & 0xE1FF, word(1));
  EXPECT_EQ(0xC004, word(2));
  for (int i = 0; i < 52; ++i) EXPECT_EQ(bootmon.space[0xC004 + i], word(3 + i));
  EXPECT_EQ(0, word(55));
  EXPECT_EQ(bootmon.commonArea, word(56));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kHwid[i], word(57 + i));
  EXPECT_EQ(0, word(61));
  EXPECT_EQ(0xC000, word(62));
  EXPECT_EQ(0x0100, word(63));
  EXPECT_EQ(0x400E, word(64));

  // The blocks hold the analysed space with the announcement and the
  // checksum written, the notices and the HWID taken out.
  Words expected = bootmon.analysed();
  const int F = bootmon.announcement;
  const int ca = bootmon.commonArea;
  for (int i = 0; i < 4; ++i) expected[ca + i] = kHwid[i];
  expected[F] = 0x0B01;
  expected[F + 1] = 0x2345;
  expected[F + 2] = 12;
  expected[F + 3] = static_cast<std::uint16_t>(bootmon.tlTarget());
  expected[0xC001] = 0x400E;
  std::uint16_t sum = 0x1911;
  for (int k = 0xC003; k < 0x10000; ++k)
    sum = rotl(static_cast<std::uint16_t>(sum + expected[k]), 5);
  expected[0xC002] = sum;
  for (int i = 0; i < 52; ++i) expected[0xC004 + i] = 0;
  for (int i = 0; i < 4; ++i) expected[ca + i] = 0;
  EXPECT_EQ(expected, blocksToSpace(62));
  EXPECT_EQ(sum, word(65));
}

TEST_F(MrRecordTest, RecordEndsWithTwoZerosUnlessTheLastRunReachesFFFF) {
  std::mt19937 rng(3);
  Bootmon bootmon = ruvo_test::makeBootmon(rng);
  prepare(bootmon);
  ASSERT_EQ(0, encode());
  ASSERT_EQ(0, g.files[0].spc[0xFFFF]);
  EXPECT_NE(0, word(length_ - 4));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(0, word(length_ - i));

  g.files[0].spc[0xFFFE] = 0x1234;
  g.files[0].spc[0xFFFF] = 0x5678;
  ASSERT_EQ(0, encode());
  EXPECT_EQ(0xFFFE, word(length_ - 4));
  EXPECT_EQ(0x1234, word(length_ - 3));
  EXPECT_EQ(0x5678, word(length_ - 2));
  EXPECT_EQ(0, word(length_ - 1));
}

TEST_F(MrRecordTest, HeaderWordsAndNoticesAreChecked) {
  std::mt19937 rng(4);
  const Bootmon bootmon = ruvo_test::makeBootmon(rng);
  struct Case {
    int address;
    std::uint16_t value;
    int result;
  };
  for (const Case c : {Case{0xC000, 0x0101, 163}, Case{0xC001, 0x400E, 164},
                       Case{0xC004 + bootmon.notices - 1, 0, 165}}) {
    prepare(bootmon);
    g.files[0].spc[c.address] = c.value;
    EXPECT_EQ(c.result, encode()) << c.address;
    freeTables();
    ASSERT_EQ(0, buildTables());
  }
}

}  // namespace
