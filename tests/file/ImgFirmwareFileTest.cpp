#include "file/ImgFirmwareFile.h"

#include <gtest/gtest.h>

#include "StreamFixture.h"

namespace {

using qmx::File::Bytes;
using qmx::File::Img;

TEST(ImgFirmwareFileTest, ReadsWholeStreamOfEvenLengthUpTo64K) {
  for (const std::size_t length : {0u, 2u, 65536u}) {
    const Bytes bytes(length, 0xA5);
    auto is = fixture::BytesStream(bytes);
    const auto result = Img::FromStream(is);
    ASSERT_EQ(0u, result.index()) << length;
    EXPECT_EQ(bytes, std::get<0>(result).GetRaw()) << length;
  }
}

TEST(ImgFirmwareFileTest, RefusesOddOrOversizedFiles) {
  for (const std::size_t length : {3u, 65537u, 65538u}) {
    auto is = fixture::BytesStream(Bytes(length, 1));
    const auto result = Img::FromStream(is);
    ASSERT_EQ(1u, result.index()) << length;
    EXPECT_EQ(1u, std::get<1>(result).index()) << length;
    EXPECT_EQ("Invalid memory length", std::get<1>(result).msg()) << length;
  }
}

TEST(ImgFirmwareFileTest, ValidatesAtAnAddress) {
  const struct {
    std::size_t length;
    std::uint16_t address;
    int code;
  } cases[] = {
      {0, 0, 0}, {65536, 0, 0}, {65536, 2, 1}, {100, 65436, 0}, {100, 65438, 1}, {100, 1, 1},
      {3, 1, 1}, {3, 0, 2},     {65538, 0, 2}, {2, 65534, 0},   {0, 65535, 1},
  };
  for (const auto& c : cases) {
    const auto valid = Img{Bytes(c.length)}.IsValid(Img::Address{c.address});
    EXPECT_EQ(c.code, static_cast<int>(valid)) << c.length << " at " << c.address;
  }
}

}  // namespace
