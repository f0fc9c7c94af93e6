#include "file/XipFirmwareFile.h"

#include <gtest/gtest.h>

#include <random>

#include "StreamFixture.h"
#include "support/XipFixture.h"

namespace {

using qmx::File::Bytes;
using qmx::File::Xip;

TEST(XipFirmwareFileTest, ReadsAnyBytesUnchecked) {
  for (const Bytes& bytes : {Bytes{}, Bytes{1}, Bytes(70000, 0xFF)}) {
    auto is = fixture::BytesStream(bytes);
    const auto result = Xip::FromStream(is);
    ASSERT_EQ(0u, result.index()) << bytes.size();
    EXPECT_EQ(bytes, std::get<0>(result).GetRaw());
  }
}

const HWID::Raw kHwid{0x1234, 0x5678, 0x9ABC, 0xDEF0};

Bytes Container(std::vector<ruvo_test::Slot> extra) {
  std::mt19937 rng(21);
  std::vector<ruvo_test::Slot> slots = {
      {ruvo_test::Slot::Kind::kSpace, ruvo_test::makeBootmon(rng).space}};
  slots.insert(slots.end(), extra.begin(), extra.end());
  return ruvo_test::makeContainer(slots);
}

TEST(XipFirmwareFileTest, ToImgGivesWholePagesValidAtAddress0) {
  const Xip xip{Container({{ruvo_test::Slot::Kind::kRaw, {1, 2, 3}}})};
  const Bytes before = xip.GetRaw();
  for (const int page : {64, 4096}) {
    const auto img = xip.ToImg(kHwid, page);
    ASSERT_EQ(0u, img.index()) << page;
    const Bytes& image = std::get<0>(img).GetRaw();
    EXPECT_FALSE(image.empty());
    EXPECT_EQ(0u, image.size() % page);
    EXPECT_FALSE(std::get<0>(img).IsValid(qmx::File::Img::Address{0}).failed());
  }
  EXPECT_EQ(before, xip.GetRaw());
}

TEST(XipFirmwareFileTest, ToImgPassesOnTheBuildersRefusal) {
  const auto img = Xip{{1, 2, 3, 4}}.ToImg(kHwid, 64);
  ASSERT_EQ(1u, img.index());
  EXPECT_EQ(1u, std::get<1>(img).index());
  EXPECT_EQ(1, static_cast<int>(std::get<1>(img)));
}

TEST(XipFirmwareFileTest, ToImgRefusesAnImageBeyond64K) {
  // A flash page for the directory and one for each raw slot: 17 pages of 4096 bytes.
  const Xip xip{Container(std::vector<ruvo_test::Slot>(16, {ruvo_test::Slot::Kind::kRaw, {7}}))};
  const auto img = xip.ToImg(kHwid, 4096);
  ASSERT_EQ(1u, img.index());
  const Xip::Error& error = std::get<1>(img);
  ASSERT_EQ(0u, error.index());
  EXPECT_EQ(1u, std::get<0>(error).index());
  EXPECT_EQ("Invalid memory length", error.msg());
}

}  // namespace
