#include "ruvo/Bootmon.h"

#include <gtest/gtest.h>

#include "AnalysisSupport.h"
#include "ruvo/L1.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace {

using namespace Ruvo::detail;
using ruvo_test::Bootmon;
using ruvo_test::refCrc;
using ruvo_test::Words;

// A hand-made boot monitor: one notice, a = 0x10, the common area at 0xF000,
// then three zero words and a Tl block of tlWords words with inp and bra.
Words smallBootmon(int tlWords) {
  Words s(ruvo_test::kSpaceWords, 0);
  const Words header = {0x0100, 0x4012, 0x1234, 0x0101, 0x7777, 0x0100, 0x0010, 1000, 0xF000};
  std::copy(header.begin(), header.end(), s.begin() + 0xC000);
  for (int i = 0; i < tlWords; ++i) s[0xC00C + i] = static_cast<std::uint16_t>(0x4000 + i);
  s[0xC00C + 3] = 0x3A01;
  s[0xC00C + 5] = 0x0155;
  s[0xF000] = 0xF000;
  s[0xF003] = 0xF010;
  return s;
}

class BootmonTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(tables_.failed()); }

  int parse(Words& space, int aux = 0xD000) {
    g.files[0].aux = aux;
    return bootmonParser(space.data());
  }

  TablesScope tables_;
};

TEST_F(BootmonTest, NoSpaceGives156) {
  EXPECT_EQ(156, bootmonParser(nullptr));
}

TEST_F(BootmonTest, TlBlockLengthIsBounded) {
  struct Case {
    int words, result;
  };
  for (const Case c : {Case{200, 157}, Case{201, 0}, Case{257, 0}, Case{258, 157}}) {
    Words space = smallBootmon(c.words);
    ASSERT_EQ(c.result, parse(space)) << c.words;
    if (c.result == 0) {
      EXPECT_EQ(c.words, Tl_len);
      EXPECT_EQ(c.words - 1, TlSize);
      EXPECT_EQ(0xD000, TlBegin);
    }
  }
}

TEST_F(BootmonTest, TwoZeroWordsStayInsideTheBlockAndThreeEndIt) {
  Words two = smallBootmon(240);
  two[0xC00C + 100] = two[0xC00C + 101] = 0;
  ASSERT_EQ(0, parse(two));
  EXPECT_EQ(240, Tl_len);
  Words three = smallBootmon(240);
  three[0xC00C + 100] = three[0xC00C + 101] = three[0xC00C + 102] = 0;
  EXPECT_EQ(157, parse(three));  // 100 words remain
}

TEST_F(BootmonTest, SpaceWithoutThreeZeroWordsGives157) {
  Words space = smallBootmon(220);
  for (int k = 0xC003; k < 0x10000; ++k) {
    if (space[k] == 0) space[k] = 0x2222;
  }
  EXPECT_EQ(157, parse(space));
}

TEST_F(BootmonTest, HeaderChecksGiveTheirCodes) {
  struct Case {
    const char* what;
    int address;
    std::uint16_t value;
    int result;
  };
  const Case cases[] = {
      {"count high byte", 0xC003, 0x0201, 158},
      {"no notices", 0xC003, 0x0100, 159},
      {"marker behind notices", 0xC005, 0x0101, 160},
      {"1000 word", 0xC007, 999, 161},
      {"common area not its own address", 0xF000, 0xF001, 162},
      {"common area above 0xFFFC", 0xC008, 0xFFFD, kCommonAreaOutside},
      {"announcement above 0xFFFC", 0xF003, 0xFFFD, kAnnouncementOutside},
  };
  for (const Case& c : cases) {
    Words space = smallBootmon(220);
    space[c.address] = c.value;
    if (c.address == 0xC008) space[0xFFFD] = 0xFFFD;
    EXPECT_EQ(c.result, parse(space)) << c.what;
  }
  Words edge = smallBootmon(220);
  edge[0xC008] = 0xFFFC;
  edge[0xFFFC] = 0xFFFC;
  edge[0xFFFF] = 0xFFFC;  // the announcement at 0xFFFC..0xFFFF still fits
  EXPECT_EQ(0, parse(edge));
}

TEST_F(BootmonTest, HeaderGivesTheAreas) {
  Words space = smallBootmon(220);
  ASSERT_EQ(0, parse(space));
  EXPECT_EQ(0xC004, Ruvo_Notices);
  EXPECT_EQ(1, Ruvo_NoticesSize);
  EXPECT_EQ(0xC017, Ruvo_ApplicationArea);
  EXPECT_EQ(0xFF80, Ruvo_ShortData);
  EXPECT_EQ(0xF000, Ruvo_CommonArea);
  EXPECT_EQ(0xF010, Ruvo_File0ptr);
}

TEST_F(BootmonTest, TlBlockTargetMustFitTheSpace) {
  Words space = smallBootmon(220);
  EXPECT_EQ(kBlockOutsideSpace, parse(space, 0xFFFF - 218));
  space = smallBootmon(220);
  EXPECT_EQ(0, parse(space, 0xFFFF - 219));
}

// The chain value the analysis is expected to leave: the CRC over the block's
// former words end - 1 down to bra + 1, its former last word, the words below
// bra down to the start, then the boot monitor's words 0xC003 up to the
// application area with the block cleared.
std::uint16_t expectedTlCrc(const Words& block, int bra, const Words& cleared, int area) {
  const int end = static_cast<int>(block.size()) - 1;
  std::uint16_t s = 0xFFFF;
  for (int i = end - 1; i > bra; --i) s = refCrc(s, block[i], 0x8BB7, 16);
  s = refCrc(s, block[end], 0x8BB7, 16);
  for (int i = bra - 1; i >= 0; --i) s = refCrc(s, block[i], 0x3D65, 16);
  for (int k = 0xC003; k < area; ++k) s = refCrc(s, cleared[k], 0x3D65, 16);
  return s;
}

TEST_F(BootmonTest, FixtureBootmonsAnalyse) {
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    const Bootmon bootmon = ruvo_test::makeBootmon(rng);
    ASSERT_EQ(0, ruvo_test::analyse(bootmon)) << seed;
    EXPECT_EQ(bootmon.tlLen, Tl_len);
    EXPECT_EQ(bootmon.tlTarget(), TlBegin);
    EXPECT_EQ(bootmon.applicationArea, Ruvo_ApplicationArea);
    EXPECT_EQ(bootmon.commonArea, Ruvo_CommonArea);
    EXPECT_EQ(bootmon.announcement, Ruvo_File0ptr);
    EXPECT_EQ(bootmon.notices, Ruvo_NoticesSize);
    const Words cleared = bootmon.analysed();
    EXPECT_TRUE(std::equal(cleared.begin(), cleared.end(), g.files[0].spc.get()));

    const Words block(bootmon.space.begin() + bootmon.tlBegin,
                      bootmon.space.begin() + bootmon.tlBegin + bootmon.tlLen);
    int bra = 0;
    while ((block[bra] >> 8) != 0x01) ++bra;
    EXPECT_EQ(expectedTlCrc(block, bra, cleared, bootmon.applicationArea), Tl_crc);
    for (int i = 0; i < Tl_len; ++i) {
      ASSERT_EQ(Tl_spc[TlBegin + i], static_cast<std::uint16_t>(Tl_img[i] << 8 | Tl_img[i] >> 8));
    }
    for (int i = 0; i <= bra; ++i) EXPECT_EQ(block[i], Tl_spc[TlBegin + i]);
  }
}

TEST_F(BootmonTest, ApplicationAreaAtOrBelowC003LeavesTheL1Crc) {
  Words space = smallBootmon(220);
  space[0xC006] = static_cast<std::uint16_t>(0xC003 - 0xC007);  // the area wraps to 0xC003
  const Words block(space.begin() + 0xC00C, space.begin() + 0xC00C + 220);
  ASSERT_EQ(0, parse(space));
  EXPECT_EQ(0xC003, Ruvo_ApplicationArea);
  EXPECT_EQ(expectedTlCrc(block, 5, space, 0), Tl_crc);
}

class L1Test : public BootmonTest {
 protected:
  static Words randomBlock(std::mt19937& rng, int words, int inp, int bra) {
    Words w(words);
    for (auto& x : w) {
      do {
        x = static_cast<std::uint16_t>(rng());
      } while (x == 0x3A01 || (x >> 8) == 0x01);
    }
    w[inp] = 0x3A01;
    w[bra] = 0x01AA;
    return w;
  }
};

TEST_F(L1Test, DecodingRestoresTheBlockButBraAndLastWord) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const int words = std::uniform_int_distribution<int>(3, 257)(rng);
    // The decoder finds inp only below bra, among the words encoding keeps.
    const int bra = std::uniform_int_distribution<int>(1, words - 2)(rng);
    const int inp = std::uniform_int_distribution<int>(0, bra - 1)(rng);
    const Words block = randomBlock(rng, words, inp, bra);
    Words space(ruvo_test::kSpaceWords, 0);
    const int start = 0xD000;
    std::copy(block.begin(), block.end(), space.begin() + start);
    space[start - 1] = 0x9999;
    ASSERT_EQ(0, L1encoder(space.data(), start, words - 1));
    for (int i = 0; i <= bra; ++i) ASSERT_EQ(block[i], space[start + i]);
    EXPECT_EQ(0x9999, space[start - 1]);
    const std::uint16_t encodedLast = space[start + words - 1];
    ASSERT_EQ(0, L1decoder(space.data(), start, words - 1));
    for (int i = bra + 1; i < words - 1; ++i) ASSERT_EQ(block[i], space[start + i]) << i;
    EXPECT_EQ(block[words - 1], space[start + bra]);
    EXPECT_EQ(encodedLast, space[start + words - 1]);
    EXPECT_EQ(expectedTlCrc(block, bra, {}, 0), Tl_crc);
  }
}

TEST_F(L1Test, MissingInstructionsAreReported) {
  struct Case {
    const char* what;
    Words block;
    int encode, decode;
    const char* message;
  };
  const Case cases[] = {
      {"no inp", {0x0101, 0x2222, 0x3333}, 167, 169, "missing inp instruction\n"},
      {"inp only as last word", {0x0101, 0x2222, 0x3A01}, 167, 169, "missing inp instruction\n"},
      {"bra only as last word", {0x3A01, 0x2222, 0x0101}, 168, 170, "missing bra instruction\n"},
      {"empty block", {0x3A01}, 167, 169, "missing inp instruction\n"},
  };
  for (const Case& c : cases) {
    Words space(ruvo_test::kSpaceWords, 0);
    std::copy(c.block.begin(), c.block.end(), space.begin() + 0xD000);
    const int size = static_cast<int>(c.block.size()) - 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.encode, L1encoder(space.data(), 0xD000, size)) << c.what;
    EXPECT_EQ(std::string("L1encoder ") + c.message, testing::internal::GetCapturedStdout());
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.decode, L1decoder(space.data(), 0xD000, size)) << c.what;
    EXPECT_EQ(std::string("L1decoder ") + c.message, testing::internal::GetCapturedStdout());
  }
}

TEST_F(L1Test, BlocksOutsideTheSpaceAreRefused) {
  Words space(ruvo_test::kSpaceWords, 0x3A01);
  EXPECT_EQ(kBlockOutsideSpace, L1encoder(space.data(), 0, 10));
  EXPECT_EQ(kBlockOutsideSpace, L1encoder(space.data(), 0xFFF0, 0x10));
  EXPECT_EQ(kBlockOutsideSpace, L1decoder(space.data(), 0xFFF0, 0x10));
  EXPECT_EQ(kBlockOutsideSpace, L1decoder(space.data(), 0xFFF0, -1));
}

}  // namespace
