#include "ruvo/XipContainer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "ruvo/ByteOrder.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace {

using namespace Ruvo::detail;
using ruvo_test::Slot;
using ruvo_test::Words;

class XipContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(tables_.failed()); }

  static std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::string tempPath(const char* name) {
    return ::testing::TempDir() + "ruvo_" + name + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  TablesScope tables_;
};

TEST_F(XipContainerTest, ReaderRefusesMalformedHeaders) {
  std::vector<std::uint8_t> empty = ruvo_test::makeContainer({});
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int code;
  };
  std::vector<std::uint8_t> wrongMagic = empty;
  wrongMagic[3] = 'X';
  std::vector<std::uint8_t> oneWordShort(empty.begin(), empty.end() - 2);
  std::vector<std::uint8_t> badCrc = empty;
  badCrc[20] ^= 1;
  std::vector<std::uint8_t> nine(empty.begin(), empty.begin() + 9);
  const Case cases[] = {
      {"9 bytes", nine, 201},
      {"XIPX", wrongMagic, 202},
      {"size one word off", oneWordShort, 203},
      {"flipped bit", badCrc, 204},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = c.bytes;
    EXPECT_EQ(c.code, getXIP(bytes.data(), static_cast<int>(bytes.size()))) << c.what;
  }
}

TEST_F(XipContainerTest, ReaderRefusesInvalidSlotWords) {
  for (std::uint16_t slotWord : {0x8000, 0xFFFF, 0xC001, 0xBFFF}) {
    std::vector<std::uint8_t> bytes = ruvo_test::sealContainer({0, slotWord});
    EXPECT_EQ(205, getXIP(bytes.data(), static_cast<int>(bytes.size()))) << slotWord;
  }
}

TEST_F(XipContainerTest, ReaderRefusesSlotsBeyondTheContainer) {
  const Words cases[] = {
      {},               // only the CRC word: no slot count
      {0},              // a slot count but no slot word
      {3, 0, 0},        // slot words for slots 0 to 3 missing
      {0, 5, 1, 2, 3},  // raw slot of 5 words, 3 present
      {1, 0xC000, 0},   // a space slot without its data
      {0, 0x7FFF},      // the largest raw slot, no data
      {256, 0},         // 257 slot words announced, one present
  };
  for (const Words& content : cases) {
    std::vector<std::uint8_t> bytes = ruvo_test::sealContainer(content);
    EXPECT_EQ(kXipSlotsOutside, getXIP(bytes.data(), static_cast<int>(bytes.size())))
        << content.size();
  }
}

TEST_F(XipContainerTest, ReaderRemovesWhiteningInPlaceAndLoadsSlots) {
  Words space(ruvo_test::kSpaceWords, 0);
  for (int i = 0xC000; i < 0x10000; ++i) space[i] = static_cast<std::uint16_t>(i * 7 + 3);
  const Words raw = {1, 2, 3, 0xFFFF, 0};
  std::vector<Slot> slots(4);
  slots[0] = {Slot::Kind::kSpace, space};
  slots[3] = {Slot::Kind::kRaw, raw};
  std::vector<std::uint8_t> bytes = ruvo_test::makeContainer(slots);
  ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size())));

  EXPECT_EQ(256, loadLe16(bytes.data(), 4));
  EXPECT_EQ(0xC000, loadLe16(bytes.data(), 5));
  EXPECT_EQ(5, loadLe16(bytes.data(), 8));
  EXPECT_EQ(space[0xC003], loadLe16(bytes.data(), 6 + 256 + 3));  // data behind the slot words

  EXPECT_STREQ("<not available>", g.files[0].name);
  EXPECT_EQ(0, g.files[0].len);
  ASSERT_TRUE(g.files[0].spc);
  EXPECT_TRUE(std::equal(space.begin(), space.end(), g.files[0].spc.get()));
  EXPECT_STREQ("<not available>", g.files[3].name);
  EXPECT_EQ(5, g.files[3].len);
  ASSERT_TRUE(g.files[3].bin);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), g.files[3].bin.get()));
  for (int k : {1, 2, 4, 256}) EXPECT_FALSE(g.files[k].spc || g.files[k].bin || g.files[k].name);
}

TEST_F(XipContainerTest, SlotCountAbove256ReadsAs256) {
  std::vector<Slot> slots(257);
  slots[256] = {Slot::Kind::kRaw, {42}};
  std::vector<std::uint8_t> bytes = ruvo_test::makeContainer(slots, 300);
  ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size())));
  EXPECT_EQ(1, g.files[256].len);
  EXPECT_EQ(42, g.files[256].bin[0]);
}

TEST_F(XipContainerTest, EmptyTableWritesThe526ByteContainer) {
  const std::string path = tempPath("empty.xip");
  ASSERT_FALSE(putXIP(path.c_str()).failed());
  std::vector<std::uint8_t> bytes = readFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(526u, bytes.size());
  EXPECT_EQ(263u, loadLe32(bytes.data() + 4));
  EXPECT_EQ(ruvo_test::makeContainer({}), bytes);  // agrees with the independent writer
  ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size())));
  for (int k = 0; k < kFileCount; ++k) ASSERT_EQ(0, g.files[k].len);
}

TEST_F(XipContainerTest, WrittenContainerReadsBack) {
  Words space(ruvo_test::kSpaceWords, 0);
  for (int i = 0; i < 0x10000; ++i) space[i] = static_cast<std::uint16_t>(i ^ 0x5A5A);
  g.files[0].spc = allocZeroed<std::uint16_t>(kSpaceWords);
  std::copy(space.begin(), space.end(), g.files[0].spc.get());
  g.files[3].bin = allocZeroed<std::uint16_t>(kSpaceWords);
  g.files[3].len = 5;
  for (int i = 0; i < 5; ++i) g.files[3].bin[i] = static_cast<std::uint16_t>(100 + i);
  strP = 37;  // names stored before the container: it moves behind them
  const std::string path = tempPath("table.xip");
  ASSERT_FALSE(putXIP(path.c_str()).failed());
  std::vector<std::uint8_t> bytes = readFile(path);
  std::remove(path.c_str());

  Words upper(space.begin() + 0xC000, space.end());
  std::vector<Slot> expected(4);
  Words whole(ruvo_test::kSpaceWords, 0);
  std::copy(upper.begin(), upper.end(), whole.begin() + 0xC000);
  expected[0] = {Slot::Kind::kSpace, whole};
  expected[3] = {Slot::Kind::kRaw, {100, 101, 102, 103, 104}};
  EXPECT_EQ(ruvo_test::makeContainer(expected), bytes);

  freeTables();
  ASSERT_EQ(0, buildTables());
  ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size())));
  EXPECT_TRUE(std::equal(whole.begin(), whole.end(), g.files[0].spc.get()));
  EXPECT_STREQ("<not available>", g.files[3].name);
  EXPECT_EQ(104, g.files[3].bin[4]);
}

TEST_F(XipContainerTest, WriterRefusesUnwritableFileAndOversizedRawEntry) {
  EXPECT_EQ(201, static_cast<int>(putXIP("/nonexistent-dir/x.xip")));
  g.files[1].bin = allocZeroed<std::uint16_t>(kSpaceWords);
  g.files[1].len = 0x8000;
  const std::string path = tempPath("big.xip");
  EXPECT_EQ(153, static_cast<int>(putXIP(path.c_str())));
  g.files[1].len = 0x7FFF;
  EXPECT_FALSE(putXIP(path.c_str()).failed());
  std::vector<std::uint8_t> bytes = readFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size())));
  EXPECT_EQ(0x7FFF, g.files[1].len);
}

TEST_F(XipContainerTest, FixtureContainersReadBackTheirSlots) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    const auto scenario = ruvo_test::makeScenario(seed);
    std::vector<std::uint8_t> bytes = scenario.container;
    freeTables();
    ASSERT_EQ(0, buildTables());
    ASSERT_EQ(0, getXIP(bytes.data(), static_cast<int>(bytes.size()))) << seed;
    for (std::size_t k = 0; k < scenario.slots.size(); ++k) {
      const Slot& slot = scenario.slots[k];
      const FileEntry& entry = g.files[k];
      switch (slot.kind) {
        case Slot::Kind::kEmpty:
          EXPECT_FALSE(entry.spc || entry.bin);
          break;
        case Slot::Kind::kSpace:
          ASSERT_TRUE(entry.spc);
          EXPECT_TRUE(
              std::equal(slot.words.begin() + 0xC000, slot.words.end(), entry.spc.get() + 0xC000));
          EXPECT_TRUE(std::all_of(entry.spc.get(), entry.spc.get() + 0xC000,
                                  [](std::uint16_t w) { return w == 0; }));
          break;
        case Slot::Kind::kRaw:
          ASSERT_TRUE(entry.bin);
          ASSERT_EQ(static_cast<int>(slot.words.size()), entry.len);
          EXPECT_TRUE(std::equal(slot.words.begin(), slot.words.end(), entry.bin.get()));
          break;
      }
    }
  }
}

}  // namespace
