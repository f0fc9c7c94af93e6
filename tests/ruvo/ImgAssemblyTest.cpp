#include <gtest/gtest.h>

#include "AnalysisSupport.h"
#include "ruvo/Crc.h"
#include "ruvo/L1.h"
#include "ruvo/LzStream.h"
#include "ruvo/Ruvo.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace {

using ruvo_test::Scenario;
using ruvo_test::Slot;
using ruvo_test::Words;
using Bytes = std::vector<std::uint8_t>;

constexpr std::array<std::uint16_t, 4> kHwid = {0x1357, 0x2468, 0x9ABC, 0xDEF0};

std::uint16_t be16(const Bytes& image, std::size_t word) {
  return static_cast<std::uint16_t>(image.at(2 * word) << 8 | image.at(2 * word + 1));
}

std::uint16_t le16(const Bytes& image, std::size_t byte) {
  return static_cast<std::uint16_t>(image.at(byte) | image.at(byte + 1) << 8);
}

struct DirectoryEntry {
  std::uint32_t pos;
  int len;
};

// Reads an image back: the MR record's header and blocks, the announcement
// found in them, the directory and the Tl block.
struct ImageView {
  ImageView(const Bytes& bytes, const ruvo_test::Bootmon& bootmon) : image(bytes) {
    const int n = bootmon.notices;
    recordSpace.assign(ruvo_test::kSpaceWords, 0);
    std::size_t i = 10 + n;
    while (be16(image, i) != 0) {
      int address = be16(image, i++);
      while (be16(image, i) != 0) recordSpace[address++] = be16(image, i++);
      ++i;
      if (address == 0x10000) break;
    }
    // Two zero words end the record unless its last run reached 0xFFFF.
    recordWords = static_cast<int>(i) + (recordSpace[0xFFFF] == 0 ? 2 : 0);
    const int F = bootmon.announcement;
    directoryPos = static_cast<std::uint32_t>(recordSpace[F] << 16 | recordSpace[F + 1]);
    directoryLen = recordSpace[F + 2];
    aux = recordSpace[F + 3];
    const std::size_t first = (directoryPos & 0xFFFFFF) / 2;
    for (int e = 0; e < directoryLen / 4; ++e) {
      Words w(4);
      for (int k = 0; k < 4; ++k) w[k] = be16(image, first + 4 * e + k);
      std::uint16_t state = 0xFFFF;
      for (auto x : w) state = ruvo_test::refCrc(state, x, 0x8BB7, 16);
      checksOk = checksOk && state == 0;
      entries.push_back({static_cast<std::uint32_t>(w[0] << 16 | w[1]), w[2]});
    }
    tlOffset = (directoryPos & 0xFFFFFF) + 2 * directoryLen;
    for (int k = 0; k < bootmon.tlLen; ++k) tl.push_back(be16(image, tlOffset / 2 + k));
  }

  const Bytes& image;
  Words recordSpace;
  int recordWords = 0;
  std::uint32_t directoryPos = 0;
  int directoryLen = 0;
  int aux = 0;
  std::vector<DirectoryEntry> entries;
  bool checksOk = true;
  std::size_t tlOffset = 0;
  Words tl;
};

int lastUsed(const Scenario& s) {
  int last = 0;
  for (std::size_t k = 0; k < s.slots.size(); ++k) {
    if (s.slots[k].kind != Slot::Kind::kEmpty) last = static_cast<int>(k);
  }
  return last;
}

Bytes convert(const Bytes& container, int pageSize, std::array<std::uint16_t, 4> hwid = kHwid) {
  auto result = Ruvo::XipToImg(hwid, container, pageSize);
  if (result.index() != 0) {
    ADD_FAILURE() << "conversion failed: " << std::get<1>(result).msg();
    return {};
  }
  return std::get<0>(result);
}

int failure(const Bytes& container, int pageSize = 64) {
  auto result = Ruvo::XipToImg(kHwid, container, pageSize);
  return result.index() == 1 ? static_cast<int>(std::get<1>(result)) : 0;
}

// FNV-1a over the image's bytes: pins a whole image in one number.
std::uint64_t fnv1a(const Bytes& image) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (const std::uint8_t b : image) hash = (hash ^ b) * 0x100000001B3u;
  return hash;
}

Bytes streamBytes(const Bytes& image, const DirectoryEntry& e) {
  const auto from = image.begin() + (e.pos & 0xFFFFFF);
  return {from, from + 2 * e.len};
}

class ImgAssemblyTest : public ::testing::TestWithParam<int> {};

TEST_P(ImgAssemblyTest, ImageHoldsRecordDirectoryTlBlockStreamsAndRawSlots) {
  const int page = GetParam();
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    const Scenario s = ruvo_test::makeScenario(seed);
    const Bytes image = convert(s.container, page);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(0u, image.size() % page);
    EXPECT_EQ(0xCE3B, be16(image, 0));
    const int n = s.bootmon.notices;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kHwid[i], be16(image, 5 + n + i));

    const ImageView view(image, s.bootmon);
    const int lastIdx = lastUsed(s);
    EXPECT_EQ(0x0B000000u + 2 * view.recordWords, view.directoryPos);
    EXPECT_EQ(4 * lastIdx, view.directoryLen);
    EXPECT_EQ(s.bootmon.tlTarget(), view.aux);
    EXPECT_TRUE(view.checksOk);

    // Tl block: decodes to the boot monitor's block.
    {
      Ruvo::detail::TablesScope tables;
      Words space(ruvo_test::kSpaceWords, 0);
      std::copy(view.tl.begin(), view.tl.end(), space.begin() + view.aux);
      ASSERT_EQ(0, Ruvo::detail::L1decoder(space.data(), view.aux, s.bootmon.tlLen - 1));
      const auto block = s.bootmon.space.begin() + s.bootmon.tlBegin;
      const int bra =
          1 + static_cast<int>(std::find_if(block, block + s.bootmon.tlLen,
                                            [](std::uint16_t w) { return w >> 8 == 1; }) -
                               block);
      for (int i = bra; i < s.bootmon.tlLen - 1; ++i) ASSERT_EQ(block[i], space[view.aux + i]);
    }

    // Streams one behind the other behind the Tl block, then raw slots on
    // page boundaries; each stream decodes to its application.
    Ruvo::detail::TablesScope tables;
    ASSERT_EQ(0, ruvo_test::analyse(s.bootmon));
    std::uint32_t next = static_cast<std::uint32_t>(view.tlOffset + 2 * s.bootmon.tlLen);
    for (int k = 1; k <= lastIdx; ++k) {
      if (s.slots[k].kind != Slot::Kind::kSpace) continue;
      const DirectoryEntry& e = view.entries.at(k - 1);
      EXPECT_EQ(0x0B000000u + next, e.pos);
      next += 2 * e.len;
      Bytes stream = streamBytes(image, e);
      Words target(Ruvo::detail::g.files[0].spc.get(),
                   Ruvo::detail::g.files[0].spc.get() + ruvo_test::kSpaceWords);
      ASSERT_EQ(0, Ruvo::detail::LZdecoder(target.data(), stream.data(), e.len, kHwid));
      const Words& app = s.slots[k].words;
      const int aa = s.bootmon.applicationArea;
      EXPECT_TRUE(
          std::equal(app.begin() + aa, app.begin() + s.bootmon.commonArea, target.begin() + aa));
      EXPECT_TRUE(std::equal(app.begin() + 0xFF80, app.end(), target.begin() + 0xFF80));
    }
    for (int k = 1; k <= lastIdx; ++k) {
      const Slot& slot = s.slots[k];
      if (slot.kind == Slot::Kind::kSpace) continue;
      const DirectoryEntry& e = view.entries.at(k - 1);
      next = (next + page - 1) / page * page;
      EXPECT_EQ(0x0B000000u + next, e.pos);
      EXPECT_EQ(static_cast<int>(slot.words.size()), e.len);
      for (std::size_t i = 0; i < slot.words.size(); ++i) {
        ASSERT_EQ(slot.words[i], le16(image, next + 2 * i));
      }
      next += 2 * e.len;
    }
    EXPECT_EQ((next + page - 1) / page * page, image.size());
    EXPECT_TRUE(std::all_of(image.begin() + next, image.end(), [](auto b) { return b == 0; }));
  }
}

TEST_P(ImgAssemblyTest, HwidWordsTwoAndThreeChangeEveryStreamZeroAndOneDoNot) {
  const int page = GetParam();
  const Scenario s = ruvo_test::makeScenario(21, 4, 1);
  const Bytes reference = convert(s.container, page);
  const ImageView view(reference, s.bootmon);
  for (int word = 0; word < 4; ++word) {
    auto hwid = kHwid;
    hwid[word] ^= 0x0040;
    const Bytes image = convert(s.container, page, hwid);
    ASSERT_EQ(reference.size(), image.size());
    EXPECT_NE(reference, image);  // the record carries the HWID
    int streams = 0;
    for (std::size_t k = 1; k < s.slots.size(); ++k) {
      if (s.slots[k].kind != Slot::Kind::kSpace) continue;
      ++streams;
      const DirectoryEntry& e = view.entries.at(k - 1);
      if (word < 2) {
        EXPECT_EQ(streamBytes(reference, e), streamBytes(image, e)) << word << " " << k;
      } else {
        EXPECT_NE(streamBytes(reference, e), streamBytes(image, e)) << word << " " << k;
      }
    }
    EXPECT_GT(streams, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(PageSizes, ImgAssemblyTest, ::testing::Values(64, 4096));

TEST(ImgAssemblyLayoutTest, OnlySlotZeroGivesEmptyDirectory) {
  std::mt19937 rng(9);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  const Bytes image = convert(ruvo_test::makeContainer({{Slot::Kind::kSpace, bootmon.space}}), 64);
  const ImageView view(image, bootmon);
  EXPECT_EQ(0, view.directoryLen);
  EXPECT_EQ(2u * view.recordWords, view.tlOffset);
  const std::size_t used = view.tlOffset + 2 * bootmon.tlLen;
  EXPECT_EQ((used + 63) / 64 * 64, image.size());
}

TEST(ImgAssemblyLayoutTest, EmptySlotBetweenRawSlotsOnlyAligns) {
  std::mt19937 rng(10);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  const std::vector<Slot> slots = {{Slot::Kind::kSpace, bootmon.space},
                                   {Slot::Kind::kRaw, {1, 2, 3, 4, 5}},
                                   {},
                                   {Slot::Kind::kRaw, {6, 7}}};
  const Bytes image = convert(ruvo_test::makeContainer(slots), 64);
  const ImageView view(image, bootmon);
  ASSERT_EQ(3u, view.entries.size());
  const std::uint32_t first = view.entries[0].pos & 0xFFFFFF;
  EXPECT_EQ(0u, first % 64);
  EXPECT_EQ(first + 64, view.entries[1].pos & 0xFFFFFF);
  EXPECT_EQ(0, view.entries[1].len);
  EXPECT_EQ(first + 64, view.entries[2].pos & 0xFFFFFF);
  EXPECT_EQ(first + 128, image.size());
}

// A hand-made container whose image was worked out with a separate model of
// the format, written apart from this code: every bit of the record, the
// directory, the Tl block, the stream (literals, matches, two blocks, the
// short data area, a last word at 0xFFFF) and the raw slots is pinned.
TEST(ImgAssemblyLayoutTest, HandMadeContainerGivesTheKnownImage) {
  Words boot(ruvo_test::kSpaceWords, 0);
  const Words header = {0x0100, 0x4012, 0x1234, 0x0101, 0x7777, 0x0100, 0x0010, 1000, 0xF000};
  std::copy(header.begin(), header.end(), boot.begin() + 0xC000);
  for (int i = 0; i < 220; ++i) boot[0xC00C + i] = static_cast<std::uint16_t>(0x4000 + 3 * i);
  boot[0xC00C + 3] = 0x3A01;
  boot[0xC00C + 5] = 0x0155;
  boot[0xF000] = 0xF000;
  boot[0xF001] = 0xAAAA;
  boot[0xF003] = 0xF010;
  boot[0xFF00] = 0x0BB0;
  Words app(ruvo_test::kSpaceWords, 0);
  std::copy(header.begin(), header.end(), app.begin() + 0xC000);
  for (int i = 0; i < 12; ++i) app[0xD000 + i] = static_cast<std::uint16_t>(0x1111 * (i % 4 + 1));
  for (int i = 0; i < 9; ++i) app[0xD00C + i] = 0x7777;
  app[0xD020] = 0x0042;  // behind 17 zero words: a new block
  app[0xF005] = 0x5555;  // in the common area: not encoded
  for (int i = 0; i < 6; ++i) app[0xFF80 + i] = static_cast<std::uint16_t>(0x0F00 + i);
  app[0xFFFF] = 0xFFFF;
  const std::vector<Slot> slots = {{Slot::Kind::kSpace, boot},
                                   {Slot::Kind::kSpace, app},
                                   {Slot::Kind::kRaw, {1, 2, 3, 4, 5}},
                                   {},
                                   {Slot::Kind::kRaw, {0xBEEF, 0, 0xCAFE}}};
  const Bytes image = convert(ruvo_test::makeContainer(slots, 4), 64);
  EXPECT_EQ(768u, image.size());
  EXPECT_EQ(0xD68625AADD190A3Eu, fnv1a(image));
}

// Whole images of the fixture's containers, recorded from a conversion known
// to be right: any change of the builder's output shows here.
TEST(ImgAssemblyLayoutTest, FixtureContainersGiveThePinnedImages) {
  struct Case {
    const char* what;
    Bytes container;
    int page;
    std::size_t size;
    std::uint64_t fnv;
  };
  const Case cases[] = {
      {"scenario 1", ruvo_test::makeScenario(1).container, 64, 5760, 0xA803A807A0C6FD29u},
      {"scenario 2", ruvo_test::makeScenario(2).container, 64, 1792, 0x9B0C5DC22CB70BEEu},
      {"scenario 33", ruvo_test::makeScenario(33).container, 4096, 12288, 0x43207BA34C71AA01u},
      {"scenario 31, six applications", ruvo_test::makeScenario(31, 6, 2).container, 64, 12288,
       0x2C30E256689A360Bu},
      {"four dense applications", ruvo_test::makeDenseContainer(2024, 4), 64, 35776,
       0xF1886436EE4DEBD9u},
  };
  for (const Case& c : cases) {
    const Bytes image = convert(c.container, c.page);
    EXPECT_EQ(c.size, image.size()) << c.what;
    EXPECT_EQ(c.fnv, fnv1a(image)) << c.what;
  }
}

TEST(ImgAssemblyFailureTest, SlotZeroMustBeASpace) {
  std::mt19937 rng(12);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  EXPECT_EQ(156, failure(ruvo_test::makeContainer({{Slot::Kind::kRaw, {1, 2}}})));
  EXPECT_EQ(156, failure(ruvo_test::makeContainer({{}, {Slot::Kind::kSpace, bootmon.space}})));
  EXPECT_EQ(156, failure(ruvo_test::makeContainer({})));
}

TEST(ImgAssemblyFailureTest, FailuresGiveTheGenericError) {
  std::mt19937 rng(13);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  const Bytes good = ruvo_test::makeContainer({{Slot::Kind::kSpace, bootmon.space}});
  Words crowded = bootmon.analysed();
  for (int k = 0xC003; k < 0x10000; ++k) crowded[k] |= 1;  // leaves no free area
  Words badHeader = bootmon.space;
  badHeader[0xC006 + bootmon.notices] = 999;
  Words badMr = bootmon.space;
  badMr[0xC001] = 0x4013;
  Bytes flipped = good;
  flipped[100] ^= 4;
  struct Case {
    const char* what;
    Bytes container;
    int page;
  };
  const Case cases[] = {
      {"empty input", {}, 64},
      {"truncated", Bytes(good.begin(), good.end() - 2), 64},
      {"CRC error", flipped, 64},
      {"no free area",
       ruvo_test::makeContainer(
           {{Slot::Kind::kSpace, bootmon.space}, {Slot::Kind::kSpace, crowded}}),
       64},
      {"header check", ruvo_test::makeContainer({{Slot::Kind::kSpace, badHeader}}), 64},
      {"MR record check", ruvo_test::makeContainer({{Slot::Kind::kSpace, badMr}}), 64},
      {"page size 0", good, 0},
      {"page size 3", good, 3},
      {"page size above 64 KiB", good, 1 << 17},
  };
  for (const Case& c : cases) EXPECT_EQ(1, failure(c.container, c.page)) << c.what;
}

TEST(ImgAssemblyFailureTest, StreamThatDoesNotVerifyFails) {
  std::mt19937 rng(14);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  Words app = bootmon.analysed();
  const int aa = bootmon.applicationArea;
  const Words pattern = {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888};
  // The application's words below its area differ from the boot monitor's,
  // and its first block refers back to them.
  std::copy(pattern.begin(), pattern.end(), app.begin() + aa - 12);
  std::copy(pattern.begin(), pattern.end(), app.begin() + aa);
  // Decoding diverges there: it ends with a check word that does not match,
  // or runs outside the space first.
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, failure(ruvo_test::makeContainer(
                   {{Slot::Kind::kSpace, bootmon.space}, {Slot::Kind::kSpace, app}})));
  testing::internal::GetCapturedStdout();
  const Bytes fine = convert(ruvo_test::makeContainer({{Slot::Kind::kSpace, bootmon.space},
                                                       {Slot::Kind::kSpace, bootmon.analysed()}}),
                             64);
  EXPECT_FALSE(fine.empty());
}

TEST(ImgAssemblyFailureTest, ImageReachingThePoolEndIsRefused) {
  std::mt19937 rng(15);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  std::vector<Slot> slots = {{Slot::Kind::kSpace, bootmon.space}};
  slots.resize(255, Slot{Slot::Kind::kRaw, {0xABCD}});
  // One page for record, directory and Tl block, one per raw slot: 255 pages.
  const Bytes image = convert(ruvo_test::makeContainer(slots), 0x10000);
  EXPECT_EQ(255u * 0x10000, image.size());
  slots.push_back(Slot{Slot::Kind::kRaw, {0xABCD}});
  EXPECT_EQ(153, failure(ruvo_test::makeContainer(slots), 0x10000));
}

}  // namespace
