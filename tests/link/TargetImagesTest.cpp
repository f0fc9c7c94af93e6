// The embedded target images: their table shape, and (built from a folder of
// distinctive bytes) that the build embeds the folder's bytes exactly.
#include <gtest/gtest.h>

#include "TargetImagePattern.h"
#include "link/XipImageLoader.h"

#ifdef MRL_PATTERN_IMAGES
#define IMAGES_SUITE PatternImages
#else
#define IMAGES_SUITE TargetImages
#endif

namespace {

using Frequency = ImgProtocol::CrystalFrequency;

#ifdef MRL_PATTERN_IMAGES
void ExpectPattern(const std::uint8_t* bytes, std::size_t len, unsigned file) {
  for (unsigned i = 0; i < len; ++i) {
    ASSERT_EQ(bytes[i], mrl_test::TargetImagePatternByte(file, i))
        << "file " << file << " byte " << i;
  }
}
#endif

TEST(IMAGES_SUITE, TablesHoldTheImagesOfTheirSizes) {
  EXPECT_EQ(xip_loader_hexes.size(), 2u);
  EXPECT_EQ(xip_loader_hexes.at(Frequency::k12_288MHz).size(), 6926u);
  EXPECT_EQ(xip_loader_hexes.at(Frequency::k24_576MHz).size(), 6926u);
  EXPECT_EQ(rf_loader_hex.size(), 27648u);
  EXPECT_EQ(belto_ls_gx2_passthrough_hex.size(), 23162u);
  EXPECT_EQ(kBootMonitorNotice.size(), 104u);
  EXPECT_THROW(xip_loader_hexes.at(static_cast<Frequency>(3)), std::out_of_range);
}

#ifdef MRL_PATTERN_IMAGES
TEST(IMAGES_SUITE, EmbedsTheFolderBytesExactly) {
  ExpectPattern(xip_loader_hexes.at(Frequency::k12_288MHz).data(), 6926, 0);
  ExpectPattern(xip_loader_hexes.at(Frequency::k24_576MHz).data(), 6926, 1);
  ExpectPattern(rf_loader_hex.data(), rf_loader_hex.size(), 2);
  ExpectPattern(belto_ls_gx2_passthrough_hex.data(), belto_ls_gx2_passthrough_hex.size(), 3);
  ExpectPattern(kBootMonitorNotice.data(), kBootMonitorNotice.size(), 4);
}
#endif

}  // namespace
