#include "file/TBF.h"

#include <gtest/gtest.h>

#include "ContainerFixture.h"
#include "StreamFixture.h"
#include "file/deserializer.h"

#include <cstring>

namespace {

using fixture::Describe;
using qmx::File::Bytes;
using qmx::File::Hex;
using qmx::File::Img;

TBF::Entry At(std::uint16_t address, std::size_t length) {
  return TBF::Entry{TBF::Entry::Address{address}, Img{Bytes(length, 1)}};
}
TBF::deprecated::Entry OldAt(std::uint16_t address, std::size_t length) {
  return TBF::deprecated::Entry{TBF::deprecated::Entry::Address{address}, Bytes(length, 1)};
}

// A hex program whose EepromSize is 12.
const Hex kHex12{{1, 0}};

qmx::Result<TBF::Table, TBF::Error> Read(const std::string& text) {
  std::istringstream is(text);
  return TBF::FromStream(is);
}

std::string Written(const TBF::Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

TEST(TBFTest, AddBinEntryKeepsAscendingAddressesAndFileOrderOfEqualOnes) {
  TBF::Table table{std::vector<TBF::Entry>{}};
  for (const auto& [address, length] : {std::pair{300, 2}, {100, 4}, {200, 2}, {100, 6}}) {
    EXPECT_FALSE(table.AddBinEntry(At(address, length)).failed());
  }
  EXPECT_EQ("hex none @100[1,1,1,1] @100[1,1,1,1,1,1] @200[1,1] @300[1,1]", Describe(table));
}

TEST(TBFTest, ValidatesImagesAndOverlaps) {
  const struct {
    const char* name;
    TBF::Table table;
    std::size_t alternative;  // of TBF::Error, when invalid
    int code;
  } cases[] = {
      {"empty", TBF::Table{std::vector<TBF::Entry>{}}, 0, 0},
      {"entry inside hex area", TBF::Table{{At(10, 2)}, kHex12}, 3, 1},
      {"entry after hex area", TBF::Table{{At(12, 2)}, kHex12}, 0, 0},
      {"adjacent entries", TBF::Table{{At(0, 100), At(100, 2)}}, 0, 0},
      {"overlapping entries", TBF::Table{{At(0, 100), At(98, 2)}}, 3, 1},
      {"descending entries", TBF::Table{{At(100, 2), At(0, 2)}}, 3, 1},
      {"entry ending at 64K, then another", TBF::Table{{At(65534, 2), At(65534, 0)}}, 3, 1},
      {"odd address", TBF::Table{{At(1, 2)}}, 2, 1},
      {"odd length", TBF::Table{{At(0, 3)}}, 2, 2},
      {"beyond EEPROM", TBF::Table{{At(65534, 4)}}, 2, 1},
      {"bad hex program", TBF::Table{{}, Hex{{1, 2, 3}}}, 1, 3},
  };
  for (const auto& c : cases) {
    const TBF::Check valid = c.table.IsValid();
    EXPECT_EQ(c.code, static_cast<int>(valid)) << c.name;
    if (valid.failed()) {
      EXPECT_EQ(c.alternative, std::get<1>(valid).index()) << c.name;
    }
  }
  EXPECT_EQ("Overlapping start addresses in tbf table entries",
            TBF::Table({At(10, 2)}, kHex12).IsValid().msg());
}

TEST(TBFTest, ReadsTheTokenFormSorted) {
  const std::string text = Written(TBF::Table{{At(200, 2), At(100, 2)}, kHex12});
  const auto result = Read(text);
  ASSERT_EQ(0u, result.index()) << std::get<1>(result).msg();
  EXPECT_EQ("hex [1,0] @100[1,1] @200[1,1]", Describe(std::get<0>(result)));
}

TEST(TBFTest, ReportsTheValidationErrorOfTheTokenForm) {
  const auto result = Read(Written(TBF::Table{{At(10, 2)}, kHex12}));
  ASSERT_EQ(1u, result.index());
  EXPECT_EQ(3u, std::get<1>(result).index());
}

TEST(TBFTest, ReadsAndConvertsTheOlderForm) {
  const TBF::deprecated::Table old{{OldAt(100, 2), OldAt(200, 4)}, Hex{{1, 0}}};
  const auto result = Read(fixture::ArchiveText(old));
  ASSERT_EQ(0u, result.index()) << std::get<1>(result).msg();
  EXPECT_EQ("hex [1,0] @100[1,1] @200[1,1,1,1]", Describe(std::get<0>(result)));

  const auto empty = Read(fixture::ArchiveText(TBF::deprecated::Table{}));
  ASSERT_EQ(0u, empty.index());
  EXPECT_EQ("hex none", Describe(std::get<0>(empty)));
}

TEST(TBFTest, OlderFormKeepsStoredOrderSoDescendingEntriesOverlap) {
  const TBF::deprecated::Table old{{OldAt(200, 2), OldAt(100, 2)}, boost::none};
  // The token reader reads this archive too, into a wrong table; the archive's version in the
  // third header token makes the reader try the older form first.
  std::istringstream archive(fixture::ArchiveText(old));
  EXPECT_NO_THROW(qmx::Deserializer{archive}.load_tbf_file());
  const auto result = Read(fixture::ArchiveText(old));
  ASSERT_EQ(1u, result.index());
  EXPECT_EQ(3u, std::get<1>(result).index());
  EXPECT_EQ(1, static_cast<int>(std::get<1>(result)));
  // The same entries in the token form are sorted and accepted.
  EXPECT_EQ(0u, Read(Written(TBF::Table{{At(200, 2), At(100, 2)}})).index());
}

TEST(TBFTest, ReadsTheTokenFormWhateverItsHeaderHolds) {
  std::string text = Written(TBF::Table{{At(100, 2)}});
  for (const char* header : {"22 serialization::archive 0 ", "22 serialization::archive 18 ",
                             "a b c ", "22 serialization::archive  "}) {
    text.replace(0, text.find(" x "), std::string(header).substr(0, std::strlen(header) - 1));
    const auto result = Read(text);
    ASSERT_EQ(0u, result.index()) << header;
    EXPECT_EQ("hex none @100[1,1]", Describe(std::get<0>(result))) << header;
  }
}

TEST(TBFTest, RefusesWhatNeitherFormReads) {
  const std::string archive = fixture::ArchiveText(TBF::deprecated::Table{{OldAt(0, 2)}, {}});
  for (const std::string& text :
       {std::string("plain text\n"), std::string(), archive.substr(0, archive.size() / 2),
        std::string("99999999999 serialization::archive 18 ")}) {
    const auto result = Read(text);
    ASSERT_EQ(1u, result.index()) << text;
    EXPECT_EQ(0u, std::get<1>(result).index()) << text;
    EXPECT_EQ("Invalid file format", std::get<1>(result).msg()) << text;
  }
}

}  // namespace
