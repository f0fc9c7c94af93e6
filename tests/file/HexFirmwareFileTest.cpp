#include "file/HexFirmwareFile.h"

#include <gtest/gtest.h>

#include "StreamFixture.h"

namespace {

using qmx::File::Bytes;
using qmx::File::Hex;

Bytes Repeat(std::size_t count, std::uint8_t value) {
  return Bytes(count, value);
}
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HexFirmwareFileTest, DropsLeadingZeroWordsOnly) {
  const struct {
    const char* name;
    Bytes file;
    Bytes image;
  } cases[] = {
      {"zero word dropped", {0, 0, 0x34, 0x12, 0x78, 0x56}, {0x34, 0x12, 0x78, 0x56}},
      {"word with zero low byte kept", {0, 0, 0, 0x12, 0x34, 0x56}, {0, 0x12, 0x34, 0x56}},
      {"no leading zero", {1, 0}, {1, 0}},
      {"many zero words", Concat(Repeat(40000, 0), Concat({7}, Repeat(99, 1))),
       Concat({7}, Repeat(99, 1))},
      {"largest image", Concat({0, 0, 9}, Repeat(32767, 1)), Concat({9}, Repeat(32767, 1))},
  };
  for (const auto& c : cases) {
    auto is = fixture::BytesStream(c.file);
    const auto result = Hex::FromStream(is);
    ASSERT_EQ(0u, result.index()) << c.name;
    EXPECT_EQ(c.image, std::get<0>(result).GetRaw()) << c.name;
  }
}

TEST(HexFirmwareFileTest, RefusesBadLengths) {
  const struct {
    const char* name;
    Bytes file;
    int code;
    const char* text;
  } cases[] = {
      {"empty", {}, 2, "Hex file is empty"},
      {"zeros only", Repeat(1001, 0), 2, "Hex file is empty"},
      {"odd", {5, 0, 0}, 3, "Hex file has an odd number of bytes"},
      {"too large after one zero byte", Concat({0, 9}, Repeat(32768, 1)), 1,
       "Hex file is too large"},
  };
  for (const auto& c : cases) {
    auto is = fixture::BytesStream(c.file);
    const auto result = Hex::FromStream(is);
    ASSERT_EQ(1u, result.index()) << c.name;
    const Hex::Error& error = std::get<1>(result);
    EXPECT_EQ(1u, error.index()) << c.name;
    EXPECT_EQ(c.code, static_cast<int>(error)) << c.name;
    EXPECT_EQ(c.text, error.msg()) << c.name;
  }
}

TEST(HexFirmwareFileTest, ChecksLengthsInOrder) {
  const struct {
    std::size_t length;
    int code;
  } cases[] = {{0, 2}, {1, 3}, {2, 0}, {32767, 3}, {32768, 0}, {32769, 1}, {32770, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, static_cast<int>(Hex::IsValidLength(c.length))) << c.length;
  }
  EXPECT_EQ(0, static_cast<int>(Hex{{1, 2}}.IsValid()));
  EXPECT_EQ(3, static_cast<int>(Hex{{1, 2, 3}}.IsValid()));
}

TEST(HexFirmwareFileTest, EepromSizeCountsRunsOfNonZeroWords) {
  const struct {
    Bytes image;
    std::size_t size;
  } cases[] = {
      {{1, 0, 2, 0, 0, 0, 3, 0}, 20},
      {{1, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 18},
      {{0, 1}, 12},
      {{0, 0, 0, 0}, 6},
      {{}, 6},
      {{1, 0, 1, 0, 1, 0, 0, 0}, 2 * (3 + 3 + 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.size, Hex{c.image}.EepromSize()) << c.image.size();
}

}  // namespace
