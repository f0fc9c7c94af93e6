#include "file/TCF.h"

#include <gtest/gtest.h>

#include "ContainerFixture.h"
#include "StreamFixture.h"

namespace {

using fixture::Describe;
using qmx::File::Bytes;
using qmx::File::Hex;
using qmx::File::Img;
using OldFile = TCF::deprecated::FirmwareFile;

TCF::FirmwareFile File(TCF::Firmware firmware) {
  return TCF::FirmwareFile{std::move(firmware)};
}

qmx::Result<TCF::Table, TCF::Error> Read(const std::string& text) {
  std::istringstream is(text);
  return TCF::FromStream(is);
}

std::string Written(const TCF::Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

TEST(TCFTest, ValidatesEachEntryByItsKind) {
  const TBF::Table overlapping{{TBF::Entry{TBF::Entry::Address{0}, Img{Bytes(4)}},
                                TBF::Entry{TBF::Entry::Address{2}, Img{Bytes(2)}}}};
  const struct {
    const char* name;
    TCF::Firmware firmware;
    std::size_t alternative;  // of TCF::Error, when invalid
    int code;
    const char* text;
  } cases[] = {
      {"hex", Hex{{1, 2}}, 0, 0, "No Error"},
      {"empty hex", Hex{}, 1, 2, "Hex file is empty"},
      {"xip of any contents", qmx::File::Xip{{1, 2, 3}}, 0, 0, "No Error"},
      {"img", Img{{1, 2}}, 0, 0, "No Error"},
      {"odd img", Img{{1, 2, 3}}, 2, 2, "Invalid memory length"},
      {"tbf", TBF::Table{std::vector<TBF::Entry>{}}, 0, 0, "No Error"},
      {"overlapping tbf", overlapping, 5, 1, "Overlapping start addresses in tbf table entries"},
      {"IS2023", qmx::File::IS2023{0, {1}}, 0, 0, "No Error"},
      {"empty IS2023", qmx::File::IS2023{0, {}}, 4, 2, "Firmware file has no data"},
  };
  for (const auto& c : cases) {
    const TCF::Check valid = TCF::FirmwareFile{c.firmware}.IsValid();
    EXPECT_EQ(c.code, static_cast<int>(valid)) << c.name;
    EXPECT_EQ(c.text, valid.msg()) << c.name;
    if (valid.failed()) {
      EXPECT_EQ(c.alternative, std::get<1>(valid).index()) << c.name;
    }
    const TCF::Table table{{{"a", File(Hex{{1, 2}})}, {"b", TCF::FirmwareFile{c.firmware}}}};
    EXPECT_EQ(c.code, static_cast<int>(table.IsValid())) << c.name;
  }
  EXPECT_FALSE(TCF::Table{TCF::FirmwareMap{}}.IsValid().failed());
}

TEST(TCFTest, ReadsTheTokenForm) {
  const TCF::Table table{{{"main", File(Img{{1, 2}})}, {"boot", File(Hex{{3, 4}})}},
                         {{"ver", {3}}}};
  const auto result = Read(Written(table));
  ASSERT_EQ(0u, result.index()) << std::get<1>(result).msg();
  EXPECT_EQ(Describe(table), Describe(std::get<0>(result)));
}

TEST(TCFTest, ReadsTheTokenFormWhateverItsHeaderHolds) {
  // A third header token other than "0" has the older form tried first; the token form is
  // then read all the same, and still refused when it does not validate.
  const TCF::Table table{{{"main", File(Img{{1, 2}})}}, {{"ver", {3}}}};
  const TCF::Table odd{{{"odd", File(Img{{1, 2, 3}})}}};
  for (const std::string header : {"22 serialization::archive 18", "a b c"}) {
    std::string text = Written(table);
    text.replace(0, text.find(" x "), header);
    const auto result = Read(text);
    ASSERT_EQ(0u, result.index()) << header;
    EXPECT_EQ(Describe(table), Describe(std::get<0>(result))) << header;

    text = Written(odd);
    text.replace(0, text.find(" x "), header);
    const auto refused = Read(text);
    ASSERT_EQ(1u, refused.index()) << header;
    EXPECT_EQ("Invalid file format", std::get<1>(refused).msg()) << header;
  }
}

TEST(TCFTest, TokenFormThatFailsValidationIsAnInvalidFormat) {
  const auto result = Read(Written(TCF::Table{{{"odd", File(Img{{1, 2, 3}})}}}));
  ASSERT_EQ(1u, result.index());
  EXPECT_EQ(0u, std::get<1>(result).index());
  EXPECT_EQ(2, static_cast<int>(std::get<1>(result)));
  EXPECT_EQ("Invalid file format", std::get<1>(result).msg());
}

TEST(TCFTest, ReadsAndConvertsTheOlderForm) {
  const TBF::deprecated::Table oldTable{
      {TBF::deprecated::Entry{TBF::deprecated::Entry::Address{100}, {7, 8}}}, Hex{{1, 0}}};
  const TCF::deprecated::Table old{{{"hex", OldFile{OldFile::kHex, Hex{{5, 6}}}},
                                    {"xip", OldFile{OldFile::kXip, Bytes{1, 2, 3}}},
                                    {"img", OldFile{OldFile::kImg, Bytes{1, 2}}},
                                    {"tbf", OldFile{OldFile::kTbf, oldTable}},
                                    {"tbf2", OldFile{OldFile::kTbf, TBF::deprecated::Table{}}}},
                                   {{"ver", {3}}, {"", {}}}};
  const auto result = Read(fixture::ArchiveText(old));
  ASSERT_EQ(0u, result.index()) << std::get<1>(result).msg();
  EXPECT_EQ(
      "entry hex=hex[5,6];entry img=img[1,2];entry tbf=tbf(hex [1,0] @100[7,8]);"
      "entry tbf2=tbf(hex none);entry xip=xip[1,2,3];meta =[];meta ver=[3];",
      Describe(std::get<0>(result)));

  const auto empty = Read(fixture::ArchiveText(TCF::deprecated::Table{}));
  ASSERT_EQ(0u, empty.index());
  EXPECT_EQ("", Describe(std::get<0>(empty)));
}

TEST(TCFTest, RefusesOlderEntriesOfUnknownOrMismatchedType) {
  const struct {
    const char* name;
    OldFile file;
  } cases[] = {
      {"type 5", OldFile{5, Bytes{1, 2}}},
      {"type 0", OldFile{}},
      {"type 2 with a hex payload", OldFile{OldFile::kXip, Hex{{1, 2}}}},
      {"type 1 with bytes", OldFile{OldFile::kHex, Bytes{1, 2}}},
      {"type 4 with bytes", OldFile{OldFile::kTbf, Bytes{}}},
  };
  for (const auto& c : cases) {
    const auto result = Read(fixture::ArchiveText(TCF::deprecated::Table{{{"a", c.file}}, {}}));
    ASSERT_EQ(1u, result.index()) << c.name;
    EXPECT_EQ("Invalid file format", std::get<1>(result).msg()) << c.name;
  }
}

TEST(TCFTest, ReportsTheValidationErrorOfTheOlderForm) {
  const auto result = Read(
      fixture::ArchiveText(TCF::deprecated::Table{{{"a", OldFile{OldFile::kImg, Bytes{1}}}}, {}}));
  ASSERT_EQ(1u, result.index());
  EXPECT_EQ(2u, std::get<1>(result).index());
  EXPECT_EQ("Invalid memory length", std::get<1>(result).msg());
}

TEST(TCFTest, RefusesWhatNeitherFormReads) {
  const std::string archive = fixture::ArchiveText(
      TCF::deprecated::Table{{{"a", OldFile{OldFile::kImg, Bytes{1, 2}}}}, {}});
  for (const std::string& text :
       {std::string("plain text\n"), std::string(), archive.substr(0, archive.size() - 4)}) {
    const auto result = Read(text);
    ASSERT_EQ(1u, result.index()) << text;
    EXPECT_EQ(2, static_cast<int>(std::get<1>(result))) << text;
  }
}

}  // namespace
