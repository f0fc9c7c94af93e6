#include "file/IS2023FirmwareFile.h"

#include <gtest/gtest.h>

#include "StreamFixture.h"

namespace {

using qmx::File::Bytes;
using qmx::File::IS2023;

Bytes File(std::uint16_t offset, std::size_t dataLength) {
  Bytes bytes{static_cast<std::uint8_t>(offset & 0xFF), static_cast<std::uint8_t>(offset >> 8)};
  for (std::size_t i = 0; i < dataLength; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  return bytes;
}

TEST(IS2023FirmwareFileTest, ReadsOffsetLowByteFirstThenData) {
  const struct {
    std::uint16_t offset;
    std::size_t length;
  } cases[] = {{0, 1}, {8000, 192}, {0, 8192}, {0x1234, 3}};
  for (const auto& c : cases) {
    auto is = fixture::BytesStream(File(c.offset, c.length));
    const auto result = IS2023::FromStream(is);
    ASSERT_EQ(0u, result.index()) << c.offset << "+" << c.length;
    EXPECT_EQ(c.offset, std::get<0>(result).GetOffset());
    const Bytes file = File(c.offset, c.length);
    EXPECT_EQ(Bytes(file.begin() + 2, file.end()), std::get<0>(result).GetData());
  }
}

TEST(IS2023FirmwareFileTest, RefusesBadFiles) {
  const struct {
    const char* name;
    Bytes file;
    int code;
    const char* text;
  } cases[] = {
      {"one byte", {7}, 3, "Could not read offset"},
      {"empty", {}, 3, "Could not read offset"},
      {"offset only", File(8192, 0), 2, "Firmware file has no data"},
      {"offset only, beyond", File(8193, 0), 1, "Firmware extends beyond EEPROM"},
      {"one byte too many", File(8000, 193), 1, "Firmware extends beyond EEPROM"},
      {"largest offset", File(0xFFFF, 1), 1, "Firmware extends beyond EEPROM"},
  };
  for (const auto& c : cases) {
    auto is = fixture::BytesStream(c.file);
    const auto result = IS2023::FromStream(is);
    ASSERT_EQ(1u, result.index()) << c.name;
    EXPECT_EQ(1u, std::get<1>(result).index()) << c.name;
    EXPECT_EQ(c.code, static_cast<int>(std::get<1>(result))) << c.name;
    EXPECT_EQ(c.text, std::get<1>(result).msg()) << c.name;
  }
}

TEST(IS2023FirmwareFileTest, ToStreamWritesWhatFromStreamReads) {
  const IS2023 firmware{0x0102, {9, 8, 7}};
  std::ostringstream os;
  firmware.ToStream(os);
  EXPECT_EQ(std::string("\x02\x01\x09\x08\x07", 5), os.str());
  std::istringstream is(os.str());
  const auto result = IS2023::FromStream(is);
  ASSERT_EQ(0u, result.index());
  EXPECT_EQ(firmware.GetOffset(), std::get<0>(result).GetOffset());
  EXPECT_EQ(firmware.GetData(), std::get<0>(result).GetData());
}

}  // namespace
