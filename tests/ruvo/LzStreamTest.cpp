#include "ruvo/LzStream.h"

#include <gtest/gtest.h>

#include "AnalysisSupport.h"
#include "ruvo/Crc.h"
#include "ruvo/LzMatch.h"
#include "ruvo/Space.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace {

using namespace Ruvo::detail;
using ruvo_test::Bootmon;
using ruvo_test::Words;

constexpr std::array<std::uint16_t, 4> kHwid = {0x0A0A, 0x0B0B, 0x0C0C, 0x0D0D};

// The match search written as the plain backward scan over every distance.
Words literalMatchCodes(const Words& copy, int commonArea, int shortData) {
  Words codes(0x4000, 0);
  for (int p = 0xC000; p <= 0xFFF7; ++p) {
    int best = 0;
    for (int d = 1; d <= 4095 && p - d >= 0xC003; ++d) {
      const int j = p - d;
      int length = 0;
      while (length < 8 && copy[p + length] == copy[j + length]) ++length;
      if (length >= 1 && length > best && (j + length - 1 < commonArea || j >= shortData)) {
        codes[p - 0xC000] = static_cast<std::uint16_t>((d << 3) | (length - 1));
        best = length;
        if (length == 8) break;
      }
    }
  }
  return codes;
}

Words fastMatchCodes(const Words& copy, int commonArea, int shortData) {
  Words codes(0x4000, 0xEEEE);
  Words scratch(kMatchScratchWords, 0xEEEE);
  MatchSearch search(copy.data(), commonArea, shortData, scratch.data());
  for (int p = 0xC000; p <= 0xFFFF; ++p) codes[p - 0xC000] = search.codeAt(p);
  return codes;
}

class LzStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tables_.failed());
    stream_.assign(kStreamBytes, 0xEE);
  }

  void analyse(std::uint32_t seed, ruvo_test::BootmonOptions options = {}) {
    rng_.seed(seed);
    bootmon_ = ruvo_test::makeBootmon(rng_, options);
    ASSERT_EQ(0, ruvo_test::analyse(bootmon_));
  }

  int encode(const Words& app, std::array<std::uint16_t, 4> hwid = kHwid) {
    EXPECT_EQ(0, LZencoder(app.data(), stream_.data(), &length_, hwid));
    return length_;
  }

  // Decodes the stream into a copy of the analysed boot monitor.
  int decode(Words& target, std::array<std::uint16_t, 4> hwid = kHwid) {
    target.assign(g.files[0].spc.get(), g.files[0].spc.get() + kSpaceWords);
    return LZdecoder(target.data(), stream_.data(), length_, hwid);
  }

  std::vector<std::uint8_t> bytes() const {
    return {stream_.begin(), stream_.begin() + 2 * length_};
  }

  TablesScope tables_;
  std::mt19937 rng_;
  Bootmon bootmon_;
  std::vector<std::uint8_t> stream_;
  int length_ = 0;
};

TEST_F(LzStreamTest, EmptyApplicationGivesSixBytes) {
  analyse(1);
  Words app = bootmon_.analysed();
  std::fill(app.begin() + bootmon_.applicationArea, app.end(), 0);
  ASSERT_EQ(3, encode(app));
  // The end token (flag 1, the whitened 0), the state's top 7 bits as pad,
  // the check word high byte first and a zero byte.
  const auto state = static_cast<std::uint16_t>(Tl_crc);
  std::uint16_t reversed = 0;
  for (int b = 0; b < 16; ++b)
    reversed |= static_cast<std::uint16_t>(((state >> b) & 1) << (15 - b));
  const auto mask = static_cast<std::uint16_t>(reversed << 5 | reversed >> 11);
  const std::uint32_t bits = 1u << 23 | static_cast<std::uint16_t>(0 - mask) << 7 | state >> 9;
  const std::uint16_t check = ruvo_test::refCrc(state, 0, 0x3D65, 16);
  const std::vector<std::uint8_t> expected = {
      static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 8),
      static_cast<std::uint8_t>(bits),       static_cast<std::uint8_t>(check >> 8),
      static_cast<std::uint8_t>(check),      0};
  EXPECT_EQ(expected, bytes());
  EXPECT_EQ(0xEE, stream_[6]);
  Words target;
  EXPECT_EQ(0, decode(target));
}

TEST_F(LzStreamTest, DecodingReproducesTheApplication) {
  for (std::uint32_t seed = 1; seed <= 10; ++seed) {
    analyse(seed);
    const double density = seed % 3 == 0 ? 1.0 : 0.1 * seed;
    Words app = ruvo_test::makeApplication(bootmon_, rng_, density);
    if (seed % 2 == 0) app[0xFFFF] = 0x4321;  // the last block closes at the space's end
    const Words before = app;
    encode(app);
    EXPECT_EQ(before, app);
    Words target;
    ASSERT_EQ(0, decode(target)) << seed;
    const int aa = bootmon_.applicationArea;
    const int ca = bootmon_.commonArea;
    EXPECT_TRUE(std::equal(app.begin() + aa, app.begin() + ca, target.begin() + aa)) << seed;
    EXPECT_TRUE(std::equal(app.begin() + 0xFF80, app.end(), target.begin() + 0xFF80)) << seed;
    EXPECT_TRUE(std::equal(target.begin() + ca, target.begin() + 0xFF80, g.files[0].spc.get() + ca))
        << seed;
  }
}

TEST_F(LzStreamTest, WholeUpperQuarterOfLiteralsRoundTrips) {
  // An application area that wraps to 0xC000 and a common area above the
  // short data area: every one of the 16,384 distinct words is a literal,
  // more tokens than the lower three quarters of a space could list.
  rng_.seed(8);
  Bootmon bootmon = ruvo_test::makeBootmon(rng_);
  auto& s = bootmon.space;
  const int n = bootmon.notices;
  s[0xC005 + n] = static_cast<std::uint16_t>(0xC000 - (0xC006 + n));
  s[bootmon.commonArea] = s[bootmon.commonArea + 3] = 0;
  bootmon.commonArea = 0xFF90;
  bootmon.announcement = 0xFFA0;
  s[0xC007 + n] = 0xFF90;
  s[0xFF90] = 0xFF90;
  s[0xFF93] = 0xFFA0;
  ASSERT_EQ(0, ruvo_test::analyse(bootmon));
  ASSERT_EQ(0xC000, Ruvo_ApplicationArea);

  Words app(kSpaceWords, 0);
  for (int i = 0xC000; i < kSpaceWords; ++i) {
    app[i] = static_cast<std::uint16_t>(static_cast<unsigned>(i) * 0x9E37u + 1u);
  }
  encode(app);
  EXPECT_GT(length_ * 16, 16384 * 17);
  Words target;
  ASSERT_EQ(0, decode(target));
  EXPECT_TRUE(std::equal(app.begin() + 0xC000, app.end(), target.begin() + 0xC000));
}

struct Token {
  bool flag;
  std::uint16_t value;
  bool operator==(const Token& o) const { return flag == o.flag && value == o.value; }
};

// Lists a stream's plain tokens, following the decoder's chain over a copy
// of the analysed boot monitor.
std::vector<Token> listTokens(const std::vector<std::uint8_t>& stream) {
  Words target(g.files[0].spc.get(), g.files[0].spc.get() + kSpaceWords);
  std::fill(target.begin() + Ruvo_ApplicationArea, target.begin() + Ruvo_CommonArea, 0);
  std::fill(target.begin() + Ruvo_ShortData, target.end(), 0);
  std::size_t bit = 0;
  auto take = [&](int count) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i, ++bit) v = v << 1 | ((stream.at(bit / 8) >> (7 - bit % 8)) & 1);
    return v;
  };
  std::vector<Token> tokens;
  auto S = static_cast<std::uint16_t>(Tl_crc);
  int a = 0;
  bool expecting = true;
  for (;;) {
    const auto mask = rotl16(g.bitrev[S], 5);
    const bool flag = take(1) != 0;
    const auto v = static_cast<std::uint16_t>(flag ? take(16) + mask : (take(15) + mask) & 0x7FFF);
    tokens.push_back({flag, v});
    if (flag && expecting && v == 0) return tokens;
    if (flag && expecting) {
      S = absorb(S, static_cast<std::uint16_t>(v + kHwid[2]), kStreamPoly);
      a = v;
      expecting = false;
    } else if (flag) {
      target.at(a++) = v;
      S = absorb(S, static_cast<std::uint16_t>(v + kHwid[3]), kStreamPoly);
    } else if (v != 0) {
      for (int i = 0; i <= (v & 7); ++i, ++a) {
        target.at(a) = target.at(a - (v >> 3));
        S = absorb(S, target[a], kStreamPoly);
      }
    } else {
      S = absorb(S, static_cast<std::uint16_t>(a), kStreamPoly);
      expecting = true;
    }
  }
}

TEST_F(LzStreamTest, SeventeenZeroWordsEndABlockSixteenDoNot) {
  analyse(4);
  const int aa = bootmon_.applicationArea;
  for (int zeros : {16, 17}) {
    Words app = bootmon_.analysed();
    std::fill(app.begin() + aa, app.end(), 0);
    const Words first = {0x1234, 0x2345, 0x3456};
    std::copy(first.begin(), first.end(), app.begin() + aa + 40);
    app[aa + 43 + zeros] = 0x4567;
    encode(app);
    const std::vector<Token> tokens = listTokens(bytes());
    std::vector<Token> expected = {{true, static_cast<std::uint16_t>(aa + 40)},
                                   {true, 0x1234},
                                   {true, 0x2345},
                                   {true, 0x3456}};
    if (zeros == 16) {
      // The zero words come as matches of the free area below the application.
      std::size_t k = 4;
      int covered = 0;
      while (k < tokens.size() && !tokens[k].flag) covered += (tokens[k++].value & 7) + 1;
      EXPECT_EQ(16, covered);
      EXPECT_EQ((Token{true, 0x4567}), tokens.at(k));
      EXPECT_EQ((Token{false, 0}), tokens.at(k + 1));
      EXPECT_EQ((Token{true, 0}), tokens.at(k + 2));
      EXPECT_EQ(k + 3, tokens.size());
    } else {
      expected.insert(expected.end(), {{false, 0},
                                       {true, static_cast<std::uint16_t>(aa + 60)},
                                       {true, 0x4567},
                                       {false, 0},
                                       {true, 0}});
      EXPECT_EQ(expected, tokens);
    }
  }
}

TEST_F(LzStreamTest, NineEqualWordsGiveALiteralAndAMatchOfEight) {
  analyse(5);
  const int aa = bootmon_.applicationArea;
  Words app = bootmon_.analysed();
  std::fill(app.begin() + aa, app.end(), 0);
  std::fill(app.begin() + aa + 100, app.begin() + aa + 109, 0x7777);
  app[0xFFFF] = 0x0101;  // closes the last block at the end of the space
  encode(app);
  const std::vector<Token> expected = {{true, static_cast<std::uint16_t>(aa + 100)},
                                       {true, 0x7777},
                                       {false, 0x000F},
                                       {false, 0},
                                       {true, 0xFFFF},
                                       {true, 0x0101},
                                       {false, 0},
                                       {true, 0}};
  EXPECT_EQ(expected, listTokens(bytes()));
  Words target;
  EXPECT_EQ(0, decode(target));
}

TEST_F(LzStreamTest, HwidWordsTwoAndThreeBindTheStream) {
  analyse(5);
  const Words app = ruvo_test::makeApplication(bootmon_, rng_, 0.5);
  encode(app);
  const auto reference = bytes();
  for (int word = 0; word < 4; ++word) {
    auto hwid = kHwid;
    hwid[word] ^= 0x0100;
    encode(app, hwid);
    if (word < 2) {
      EXPECT_EQ(reference, bytes()) << word;
    } else {
      EXPECT_NE(reference, bytes()) << word;
      Words target;
      testing::internal::CaptureStdout();
      EXPECT_NE(0, decode(target, kHwid));  // bound to the HWID it was made for
      testing::internal::GetCapturedStdout();
    }
  }
}

TEST_F(LzStreamTest, WrongCheckWordGives166) {
  analyse(6);
  encode(ruvo_test::makeApplication(bootmon_, rng_, 0.3));
  stream_[2 * length_ - 2] ^= 0x40;  // a byte of the check word, whether a pad byte follows or not
  Words target;
  testing::internal::CaptureStdout();
  EXPECT_EQ(166, decode(target));
  EXPECT_EQ("checksum error\n", testing::internal::GetCapturedStdout());
}

// Writes whitened tokens as the decoder reads them, for streams that the
// encoder never makes.
class CraftedStream {
 public:
  void blockStart(std::uint16_t address) {
    put(true, address);
    state_ = absorb(state_, static_cast<std::uint16_t>(address + kHwid[2]), kStreamPoly);
  }
  void literal(std::uint16_t word) {
    put(true, word);
    state_ = absorb(state_, static_cast<std::uint16_t>(word + kHwid[3]), kStreamPoly);
  }
  void match(int distance, int length) {
    put(false, static_cast<std::uint16_t>(distance << 3 | (length - 1)));
  }
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out((bits_.size() + 7) / 8 + 64, 0);
    for (std::size_t i = 0; i < bits_.size(); ++i) {
      if (bits_[i]) out[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    }
    return out;
  }

 private:
  void put(bool flag, std::uint16_t value) {
    const auto stored = static_cast<std::uint16_t>(value - rotl16(g.bitrev[state_], 5));
    bits_.push_back(flag);
    for (int b = flag ? 15 : 14; b >= 0; --b) bits_.push_back((stored >> b) & 1);
  }
  std::uint16_t state_ = static_cast<std::uint16_t>(Tl_crc);
  std::vector<bool> bits_;
};

TEST_F(LzStreamTest, StreamsPointingOutsideTheSpaceAreRefused) {
  analyse(2);
  struct Case {
    const char* what;
    void (*write)(CraftedStream&);
  };
  const Case cases[] = {
      {"literal beyond 0xFFFF",
       [](CraftedStream& s) {
         s.blockStart(0xFFFF);
         s.literal(1);
         s.literal(2);
       }},
      {"match before address 0",
       [](CraftedStream& s) {
         s.blockStart(0x0002);
         s.match(5, 1);
       }},
      {"match beyond 0xFFFF",
       [](CraftedStream& s) {
         s.blockStart(0xFFFC);
         s.match(1, 8);
       }},
  };
  for (const Case& c : cases) {
    CraftedStream crafted;
    c.write(crafted);
    const auto bytes = crafted.bytes();
    Words target(kSpaceWords, 0);
    EXPECT_EQ(kStreamOutside,
              LZdecoder(target.data(), bytes.data(), static_cast<int>(bytes.size() / 2), kHwid))
        << c.what;
  }
}

TEST_F(LzStreamTest, TruncatedStreamIsRefused) {
  analyse(3);
  encode(ruvo_test::makeApplication(bootmon_, rng_, 0.2));
  Words target;
  for (int words : {0, 1, length_ - 1}) {
    target.assign(g.files[0].spc.get(), g.files[0].spc.get() + kSpaceWords);
    EXPECT_EQ(kStreamOutside, LZdecoder(target.data(), stream_.data(), words, kHwid)) << words;
  }
}

TEST(LzMatchTest, FastSearchGivesTheLiteralScansCodes) {
  std::mt19937 rng(11);
  struct Area {
    int commonArea, shortData;
  };
  const Area areas[] = {{0xF000, 0xFF80}, {0xC100, 0xFF80}, {0x10000, 0x10000},
                        {0xE000, 0xE800}, {0x8000, 0xFF80}, {0xFF90, 0xFF80}};
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  for (int round = 0; round < 12; ++round) {
    Words copy(kSpaceWords, 0);
    const int alphabet = 1 << (round % 7 * 2 + 1);  // 2 to 8192 distinct words
    for (int k = 0xC000; k < 0x10000;) {
      const int kind = pick(0, 9);
      if (kind < 5) {
        copy[k++] = static_cast<std::uint16_t>(pick(0, alphabet - 1));
      } else if (kind < 7 && k > 0xC100) {  // a repeat of earlier words
        const int back = pick(1, 4200);
        for (int n = pick(1, 12); n > 0 && k < 0x10000; --n, ++k) {
          copy[k] = copy[std::max(0xC000, k - back)];
        }
      } else {  // a run of one word
        const auto word = static_cast<std::uint16_t>(kind == 9 ? 0 : pick(0, 3));
        for (int n = pick(1, round % 2 == 0 ? 12 : 40); n > 0 && k < 0x10000; --n) copy[k++] = word;
      }
    }
    const Area area = areas[round % 6];
    ASSERT_EQ(literalMatchCodes(copy, area.commonArea, area.shortData),
              fastMatchCodes(copy, area.commonArea, area.shortData))
        << round;
  }
}

TEST(LzMatchTest, FastSearchGivesTheLiteralScansCodesOnApplications) {
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    std::mt19937 rng(seed);
    const auto bootmon = ruvo_test::makeBootmon(rng);
    Words copy = ruvo_test::makeApplication(bootmon, rng, 0.4 * seed);
    std::fill(copy.begin(), copy.begin() + 0xC000, 0);
    std::fill(copy.begin() + bootmon.commonArea, copy.begin() + 0xFF80, 0);
    ASSERT_EQ(literalMatchCodes(copy, bootmon.commonArea, 0xFF80),
              fastMatchCodes(copy, bootmon.commonArea, 0xFF80))
        << seed;
  }
}

TEST(LzMatchTest, CodesFollowTheSearchRules) {
  struct Case {
    const char* what;
    Words run;  // words from 0xD000
    int commonArea, shortData;
    int position;
    std::uint16_t code;
  };
  const Case cases[] = {
      {"nine equal words: distance 1, length 8",
       {5, 5, 5, 5, 5, 5, 5, 5, 5},
       0xF000,
       0xFF80,
       0xD001,
       0x000F},
      {"nearer of two equal matches",
       {7, 8, 1, 7, 8, 2, 7, 8},
       0xF000,
       0xFF80,
       0xD006,
       (3 << 3) | 1},
      {"longer match further back wins",
       {7, 8, 9, 1, 7, 8, 2, 7, 8, 9},
       0xF000,
       0xFF80,
       0xD007,
       (7 << 3) | 2},
      {"source reaching into the common area", {7, 8, 9, 1, 7, 8, 9}, 0xD002, 0xFF80, 0xD004, 0},
      {"source just below the common area",
       {7, 8, 9, 1, 7, 8, 9},
       0xD003,
       0xFF80,
       0xD004,
       (4 << 3) | 2},
      {"source starting in the short data area",
       {7, 8, 9, 1, 7, 8, 9},
       0xC100,
       0xD000,
       0xD004,
       (4 << 3) | 2},
      {"source starting below the short data area",
       {7, 8, 9, 1, 7, 8, 9},
       0xC100,
       0xD001,
       0xD004,
       0},
  };
  for (const Case& c : cases) {
    Words copy(kSpaceWords, 0);
    std::copy(c.run.begin(), c.run.end(), copy.begin() + 0xD000);
    const Words codes = fastMatchCodes(copy, c.commonArea, c.shortData);
    EXPECT_EQ(c.code, codes[c.position - 0xC000]) << c.what;
  }
}

TEST(LzMatchTest, NoSourceBelowC003AndNoCodeAboveFFF7) {
  Words copy(kSpaceWords, 0x5555);
  copy[0xC002] = 0x99;
  copy[0xC010] = 0x99;
  const Words codes = fastMatchCodes(copy, 0x10000, 0x10000);
  EXPECT_EQ(0, codes[0xC010 - 0xC000]);
  EXPECT_EQ((9 << 3) | 7, codes[0xC011 - 0xC000]);  // the eight words below 0xC010
  EXPECT_EQ(0x000F, codes[0xFFF7 - 0xC000]);
  for (int p = 0xFFF8; p <= 0xFFFF; ++p) EXPECT_EQ(0, codes[p - 0xC000]);
}

}  // namespace
