// Where a write may go: the HOFF sections and TBF images held to the board's
// memories and to the HWID a run programs.
#include "run/WriteLimits.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

HOFF::File OneEntry(std::vector<HOFF::Section> sections) {
  HOFF::File file;
  file.entries.push_back({"fw", "any", std::move(sections)});
  return file;
}

HOFF::Section Section(unsigned offset, std::size_t length) {
  return {"s", offset, std::vector<std::uint8_t>(length, 0x5A)};
}

TEST(HoffSectionRefusal, HoldsEachSectionToItsTargetAtTheEdges) {
  const struct {
    const char* name;
    HOFF::Section section;
    bool flash;
    bool sethwid;
    bool refused;
  } cases[] = {
      {"EEPROM, ends at 64 KiB", Section(0xFF00, 0x100), false, false, false},
      {"EEPROM, ends 2 bytes past", Section(0xFF00, 0x102), false, false, true},
      {"EEPROM, whole", Section(0, 0x10000), false, false, false},
      {"EEPROM, empty at 64 KiB: an address it cannot carry", Section(0x10000, 0), false, false,
       true},
      {"EEPROM, offset near 4 GiB does not wrap", Section(0xFFFFFFFE, 4), false, false, true},
      {"EEPROM, odd", Section(0x100, 3), false, false, true},
      {"flash, largest download", Section(0x10000, 131070), true, false, false},
      {"flash, one word more", Section(0, 131072), true, false, true},
      {"flash, far above 64 KiB", Section(0x7FFF0000, 64), true, false, false},
      {"flash, odd", Section(0, 1), true, false, true},
      {"empty", Section(0x200, 0), false, false, false},
      // The HWID's bytes 110 to 117 are the run's own with sethwid.
      {"EEPROM, whole, with sethwid", Section(0, 0x10000), false, true, true},
      {"EEPROM, ends just before the HWID", Section(0x60, 14), false, true, false},
      {"EEPROM, its last word on the HWID's first", Section(0x60, 16), false, true, true},
      {"EEPROM, its first word on the HWID's last", Section(116, 2), false, true, true},
      {"EEPROM, begins just after the HWID", Section(118, 64), false, true, false},
      {"EEPROM, empty on the HWID", Section(110, 0), false, true, false},
      {"flash, over the HWID", Section(0, 0x1000), true, true, true},
      {"flash, 64 KiB higher", Section(0x10000, 0x1000), true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mrl::HoffSectionRefusal(OneEntry({c.section}), "fw", c.flash, c.sethwid).has_value(),
              c.refused);
  }
}

TEST(HoffSectionRefusal, NamesTheFirstFaultySectionOfEveryEntryOfThatName) {
  HOFF::File file = OneEntry({Section(0, 4)});
  file.entries.push_back({"other", "eeprom", {Section(0x10000, 2)}});
  file.entries.push_back(
      {"fw", "eeprom", {Section(0, 2), {"tail", 0x200, {1, 2, 3}}, {"x", 1, {1}}}});
  EXPECT_EQ(mrl::HoffSectionRefusal(file, "fw", false, false),
            "HOFF section 2 (\"tail\") cannot be written: its 3 bytes are not whole 16-bit "
            "words.\n");
  EXPECT_EQ(mrl::HoffSectionRefusal(file, "none", false, false), std::nullopt);
}

TEST(HoffSectionRefusal, NamesTheHwidOfTheMemoryTheEntryGoesTo) {
  const HOFF::File file = OneEntry({Section(0, 4), {"app", 0x70, std::vector<std::uint8_t>(64)}});
  EXPECT_EQ(mrl::HoffSectionRefusal(file, "fw", false, true),
            "HOFF section 2 (\"app\") cannot be written: 64 bytes at offset 0x70 cover the HWID "
            "(EEPROM bytes 110 to 117) that --sethwid programs in this run.\n");
  EXPECT_EQ(mrl::HoffSectionRefusal(file, "fw", true, true),
            "HOFF section 2 (\"app\") cannot be written: 64 bytes at offset 0x70 cover the HWID "
            "(flash bytes 110 to 117) that --sethwid programs in this run.\n");
  EXPECT_EQ(mrl::HoffSectionRefusal(file, "fw", false, false), std::nullopt);
}

TEST(TbfHwidSlotRefusal, RefusesAnImageSharingAByteWithTheHwid) {
  const struct {
    std::uint16_t address;
    std::size_t length;
    bool refused;
  } cases[] = {
      {0, 110, false},  {0, 111, true},   {117, 2, true},
      {118, 64, false}, {0x70, 0, false}, {0, 0x8000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.address) + "+" + std::to_string(c.length));
    const TBF::Table table({TBF::Entry(TBF::Entry::Address(0x4000), qmx::File::Img({1, 2})),
                            TBF::Entry(TBF::Entry::Address(c.address),
                                       qmx::File::Img(qmx::File::Bytes(c.length, 7)))});
    EXPECT_EQ(mrl::TbfHwidSlotRefusal(table).has_value(), c.refused);
  }
}

}  // namespace
