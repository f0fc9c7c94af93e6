#include "file/HWID.h"

#include <gtest/gtest.h>

#include <bitset>
#include <string>

namespace {

std::string Encode(std::uint16_t w) {
  char out[3];
  HWID::itob32(w, out);
  return std::string(out, 3);
}

TEST(HWIDTest, EncodesOneWord) {
  const struct {
    std::uint16_t word;
    const char* text;
  } cases[] = {{0x0000, "000"}, {0x7FFF, "YYY"}, {0xFFFF, "YYY"},
               {0x8000, "000"}, {0x1234, "4HL"}, {0x0140, "0A0"}};
  for (const auto& c : cases) EXPECT_EQ(c.text, Encode(c.word)) << std::hex << c.word;
}

TEST(HWIDTest, DecodesOneGroupWithEvenParity) {
  const struct {
    const char* text;
    int word;
  } cases[] = {{"000", 0x0000},
               {"001", 0x8001},
               {"0A0", 0x0140},
               {"YYY", 0xFFFF},
               {"4HL", 0x9234},
               {"I00", -1},
               {"0O0", -1},
               {"00S", -1},
               {"Z00", -1},
               {"a00", -1},
               {"0 0", -1},
               {"\xC3"
                "00",
                -1}};
  for (const auto& c : cases) EXPECT_EQ(c.word, HWID::b32toi(c.text)) << c.text;
}

TEST(HWIDTest, InvalidGroupSpoilsOnlyItsOwnWord) {
  const HWID::Raw raw = HWID::base32ToRaw("4HL0I0001YYY");
  EXPECT_EQ((HWID::Raw{0x9234, 0xFFFF, 0x8001, 0xFFFF}), raw);
}

TEST(HWIDTest, ArrayAndPointerFormsAgree) {
  const HWID::Base32 text{'0', 'A', '0', '4', 'H', 'L', '0', '0', '1', 'x', 'Y', 'Y'};
  EXPECT_EQ(HWID::base32ToRaw(text.data()), HWID::base32ToRaw(text));
  EXPECT_EQ((HWID::Raw{0x0140, 0x9234, 0x8001, 0xFFFF}), HWID::base32ToRaw(text));
}

TEST(HWIDTest, RoundTripsEveryWord) {
  for (unsigned w = 0; w <= 0xFFFF; ++w) {
    const HWID::Raw raw{static_cast<std::uint16_t>(w), 0, 0, 0};
    const HWID::Base32 text = HWID::rawToBase32(raw);
    const HWID::Raw back = HWID::base32ToRaw(text);
    const bool even = std::bitset<16>(w).count() % 2 == 0;
    EXPECT_EQ(even, back[0] == w) << w;
    EXPECT_EQ(text, HWID::rawToBase32(back)) << w;  // decoding then encoding gives the text
  }
}

}  // namespace
