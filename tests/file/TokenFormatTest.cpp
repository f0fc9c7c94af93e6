#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "ContainerFixture.h"
#include "file/deserializer.h"
#include "file/serializer.h"

namespace {

using fixture::Describe;
using fixture::Tokens;
using qmx::File::Bytes;
using qmx::File::Hex;
using qmx::File::Img;

TBF::Entry At(std::uint16_t address, Bytes bytes) {
  return TBF::Entry{TBF::Entry::Address{address}, Img{std::move(bytes)}};
}

TCF::FirmwareFile File(TCF::Firmware firmware) {
  return TCF::FirmwareFile{std::move(firmware)};
}

std::string Written(const TBF::Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}
std::string Written(const TCF::Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

TBF::Table ReadTbf(const std::string& text) {
  std::istringstream is(text);
  return qmx::Deserializer{is}.load_tbf_file();
}
TCF::Table ReadTcf(const std::string& text) {
  std::istringstream is(text);
  return qmx::Deserializer{is}.load_tcf_file();
}

// The four worked examples of the format, written and read byte for byte.
const std::string kTbfExample = Tokens({"22",  "serialization::archive",
                                        "0",   "x",
                                        "x",   "x",
                                        "x",   "1",
                                        "x",   "x",
                                        "2",   "x",
                                        "1",   "2",
                                        "x",   "x",
                                        "1",   "x",
                                        "x",   "x",
                                        "x",   "x",
                                        "100", "x",
                                        "x",   "2",
                                        "x",   "7",
                                        "8"});
const std::string kEmptyTbfExample =
    Tokens({"22", "serialization::archive", "0", "x", "x", "x", "x", "0", "x", "x", "0", "x"});
const std::string kTcfExample = Tokens({"22", "serialization::archive",
                                        "0",  "x",
                                        "x",  "x",
                                        "x",  "1",
                                        "x",  "x",
                                        "x",  "x",
                                        "4",  "main",
                                        "x",  "x",
                                        "x",  "x",
                                        "2",  "x",
                                        "x",  "2",
                                        "x",  "1",
                                        "2",  "x",
                                        "x",  "1",
                                        "x",  "x",
                                        "x",  "x",
                                        "3",  "ver",
                                        "1",  "x",
                                        "3"});
const std::string kEmptyTcfExample =
    Tokens({"22", "serialization::archive", "0", "x", "x", "x", "x", "0", "x", "x", "x", "x", "x",
            "x", "0", "x", "x", "x", "x"});

TEST(TokenFormatTest, WorkedTbfExamplesBothWays) {
  const TBF::Table table{{At(100, {7, 8})}, Hex{{1, 2}}};
  const TBF::Table empty{std::vector<TBF::Entry>{}};
  EXPECT_EQ(kTbfExample, Written(table));
  EXPECT_EQ(kEmptyTbfExample, Written(empty));
  EXPECT_EQ(Describe(table), Describe(ReadTbf(kTbfExample)));
  EXPECT_EQ("hex none", Describe(ReadTbf(kEmptyTbfExample)));
}

TEST(TokenFormatTest, WorkedTcfExamplesBothWays) {
  const TCF::Table table{{{"main", File(Img{{1, 2}})}}, {{"ver", {3}}}};
  const TCF::Table empty{TCF::FirmwareMap{}};
  EXPECT_EQ(kTcfExample, Written(table));
  EXPECT_EQ(kEmptyTcfExample, Written(empty));
  EXPECT_EQ("entry main=img[1,2];meta ver=[3];", Describe(ReadTcf(kTcfExample)));
  EXPECT_EQ("", Describe(ReadTcf(kEmptyTcfExample)));
}

TEST(TokenFormatTest, EveryPayloadKindRoundTrips) {
  const TBF::Table tbf{{At(10, {1, 2}), At(20, {3, 4})}, Hex{{5, 6}}};
  const TCF::Table table{{{"hex", File(Hex{{1, 0}})},
                          {"xip", File(qmx::File::Xip{{9, 9, 9}})},
                          {"img", File(Img{{4, 4}})},
                          {"tbf", File(tbf)},
                          {"bt", File(qmx::File::IS2023{300, {1, 2, 3}})},
                          {"bt2", File(qmx::File::IS2023{0, {7}})},
                          {"", File(Img{})}},
                         {{"a", {}}, {"b", {0, 255}}}};
  EXPECT_EQ(Describe(table), Describe(ReadTcf(Written(table))));
}

TEST(TokenFormatTest, FirstTablePlaceholdersStandBesideFirstEntryPlaceholders) {
  const TCF::Table table{{{"t", File(TBF::Table{{At(0, {1, 2})}, Hex{{3, 4}}})}}};
  EXPECT_EQ(Tokens({"22", "serialization::archive",
                    "0",  "x",
                    "x",  "x",
                    "x",  "1",
                    "x",  "x",
                    "x",  "x",
                    "1",  "t",
                    "x",  "x",
                    "x",  "x",
                    "3",  "x",
                    "x",  "x",
                    "x",  "1",
                    "x",  "x",
                    "2",  "x",
                    "3",  "4",
                    "x",  "x",
                    "1",  "x",
                    "x",  "x",
                    "x",  "x",
                    "0",  "x",
                    "x",  "2",
                    "x",  "1",
                    "2",  "x",
                    "x",  "0",
                    "x",  "x",
                    "x",  "x"}),
            Written(table));
}

TEST(TokenFormatTest, PlaceholdersAreSharedAcrossNesting) {
  // A Hex entry and an Img entry come first, so the table's hex program and its entry's image
  // carry no placeholders; the table and its entry carry their own.
  const std::string text = Tokens({"22", "serialization::archive",
                                   "0",  "x",
                                   "x",  "x",
                                   "x",  "3",
                                   "x",  "x",
                                   "x",  "x",
                                   "1",  "h",
                                   "x",  "x",
                                   "x",  "x",
                                   "0",  "x",
                                   "x",  "2",
                                   "x",  "1",
                                   "2",  // hex entry
                                   "1",  "i",
                                   "2",  "x",
                                   "x",  "2",
                                   "x",  "3",
                                   "4",  // img entry
                                   "1",  "t",
                                   "3",  "x",
                                   "x",  "x",
                                   "x",  "1",
                                   "2",  "x",
                                   "5",  "6",
                                   "x",  "x",
                                   "1",  "x",
                                   "x",  "x",
                                   "x",  "x",
                                   "8",  "2",
                                   "x",  "7",
                                   "8",  // table: program, entry at 8
                                   "x",  "x",
                                   "0",  "x",
                                   "x",  "x",
                                   "x"});
  EXPECT_EQ("entry h=hex[1,2];entry i=img[3,4];entry t=tbf(hex [5,6] @8[7,8]);",
            Describe(ReadTcf(text)));
}

TEST(TokenFormatTest, OnlyTheFirstXipAndIS2023PayloadsCarryPlaceholders) {
  const std::string text =
      Tokens({"22", "s", "0", "x",   "x", "x", "x", "4", "x", "x", "x", "x",  //
              "1",  "a", "x", "x",   "x", "x", "1", "x", "x", "1", "x", "9",  //
              "1",  "b", "1", "2",   "x", "8", "7",                           //
              "1",  "c", "4", "x",   "x", "5", "1", "x", "6",                 //
              "1",  "d", "4", "300", "2", "x", "4", "3",                      //
              "x",  "x", "0", "x",   "x", "x", "x"});
  EXPECT_EQ("entry a=xip[9];entry b=xip[8,7];entry c=is2023@5[6];entry d=is2023@300[4,3];",
            Describe(ReadTcf(text)));
}

TEST(TokenFormatTest, ReaderKeepsFirstOfDuplicateLabelsAndSkipsUnknownTypes) {
  const std::string text =
      Tokens({"h", "e", "a", "x", "x", "x", "x", "4", "x", "x", "x", "x",       //
              "1", "a", "x", "x", "x", "x", "2", "x", "x", "2", "x", "1", "2",  // a = img
              "1", "a", "2", "2", "x", "3", "4",                                // a again
              "1", "b", "5",                                                    // type 5
              "1", "c", "1", "x", "x", "1", "x", "9",  // type 5 read no payload: c = xip
              "x", "x", "0", "x", "x", "x", "x"});
  EXPECT_EQ("entry a=img[1,2];entry c=xip[9];", Describe(ReadTcf(text)));
}

TEST(TokenFormatTest, LabelsAreCutToTheirLengthAndKeysTakenWhole) {
  const struct {
    std::string length;
    std::string token;
    std::string label;
  } cases[] = {{"4", "mainboard", "main"}, {"0", "", ""},           {"-3", "abc", ""},
               {"9", "abc", "abc"},        {"70000", "abc", "abc"}, {"3", "a\nb", "a\nb"}};
  for (const auto& c : cases) {
    const std::string text =
        Tokens({"22",     "s",     "0", "x", "x", "x", "x", "1", "x",       "x", "x", "x",
                c.length, c.token, "x", "x", "x", "x", "1", "x", "x",       "0", "x",  //
                "x",      "x",     "1", "x", "x", "x", "x", "3", "version", "0", "x"});
    EXPECT_EQ("entry " + c.label + "=xip[];meta version=[];", Describe(ReadTcf(text)))
        << c.length << " " << c.token;
  }
}

TEST(TokenFormatTest, NumbersAreReducedToTheirFieldWidths) {
  const std::string text =
      Tokens({"22",     "s", "0", "x", "x", "x", "x", "1", "x", "x",     "3", "x", "300", "-1",
              "+7junk", "x", "x", "1", "x", "x", "x", "x", "x", "65636", "x", "x", "0",   "x"});
  EXPECT_EQ("hex [44,255,7] @100[]", Describe(ReadTbf(text)));
  const std::string is2023 = Tokens({"22", "s", "0", "x", "x", "x", "x", "1",     "x", "x", "x",
                                     "x",  "1", "f", "x", "x", "x", "x", "65540", "x", "x", "65537",
                                     "1",  "x", "5", "x", "x", "0", "x", "x",     "x", "x"});
  EXPECT_EQ("entry f=is2023@1[5];", Describe(ReadTcf(is2023)));
}

TEST(TokenFormatTest, ReaderSortsTableEntriesByAddress) {
  const std::string text =
      Tokens({"22",  "s", "0", "x", "x",   "x", "x", "0", "x", "x", "3", "x",  //
              "x",   "x", "x", "x", "300", "x", "x", "0", "x",                 //
              "100", "1", "x", "1",                                            //
              "100", "1", "x", "2"});
  EXPECT_EQ("hex none @100[1] @100[2] @300[]", Describe(ReadTbf(text)));
}

TEST(TokenFormatTest, IgnoresHeaderAndPlaceholderContentsAndTrailingText) {
  std::string text = kTbfExample;
  for (const char* from : {"22", "serialization::archive"}) {
    text.replace(text.find(from), std::string(from).size(), "?");
  }
  text.replace(text.find("x"), 1, "anything");
  EXPECT_EQ("hex [1,2] @100[7,8]", Describe(ReadTbf(text + "\n")));
  EXPECT_EQ("hex [1,2] @100[7,8]", Describe(ReadTbf(kTbfExample + "\n")));
  EXPECT_EQ("entry main=img[1,2];meta ver=[3];", Describe(ReadTcf(kTcfExample + "\r\n")));
}

TEST(TokenFormatTest, BadInputThrows) {
  const auto throwsFrom = [](const std::string& text, bool tcf) -> std::string {
    try {
      if (tcf) {
        ReadTcf(text);
      } else {
        ReadTbf(text);
      }
    } catch (const std::exception& e) {
      return e.what();
    }
    return "nothing thrown";
  };
  const std::string truncated = kTbfExample.substr(0, kTbfExample.size() - 4);
  const std::string header = Tokens({"22", "s", "0", "x", "x", "x", "x"});
  const struct {
    const char* name;
    std::string text;
    bool tcf;
    std::string what;
  } cases[] = {
      {"optional flag 2", header + Tokens({"2"}), false, "Invalid optional type detected"},
      {"truncated", truncated, false, "stoi"},
      {"read past an end without separator", kTbfExample.substr(0, kTbfExample.size() - 3), false,
       "stoi"},
      {"empty", "", false, "stoi"},
      {"number without digits", header + Tokens({"0", "x", "x", "many"}), false, "stoi"},
      {"number too large", header + Tokens({"0", "x", "x", "2147483648"}), false, "stoi"},
      {"negative entry count", header + Tokens({"0", "x", "x", "-1", "x"}), false,
       "Negative count"},
      {"negative byte count", header + Tokens({"1", "x", "x", "-2", "x"}), false, "Negative count"},
      {"huge byte count, few bytes", header + "1 x x 1000000000 x 5", false, "stoi"},
      {"too many entries", header + Tokens({"65536", "x", "x", "x", "x"}), true,
       "Too many entries"},
      {"bad key length",
       kEmptyTcfExample.substr(0, kEmptyTcfExample.size() - 10) +
           Tokens({"1", "x", "x", "x", "x", "k", "key", "0", "x"}),
       true, "stoi"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.what, throwsFrom(c.text, c.tcf)) << c.name;
}

TEST(TokenFormatTest, LastTokenWithoutSeparatorIsRead) {
  EXPECT_EQ("hex [1,2] @100[7,8]",
            Describe(ReadTbf(kTbfExample.substr(0, kTbfExample.size() - 1))));
}

TEST(TokenFormatTest, NegativeTcfEntryCountReadsNoEntries) {
  const std::string text = Tokens({"22", "s", "0", "x", "x", "x", "x", "-5", "x", "x", "x", "x",
                                   "x", "x", "0", "x", "x", "x", "x"});
  EXPECT_EQ("", Describe(ReadTcf(text)));
}

TEST(TokenFormatTest, WriterFailsTheStreamForWhatTheFormCannotCarry) {
  const struct {
    const char* name;
    TCF::Table table;
  } cases[] = {
      {"label with a space", TCF::Table{{{"a b", File(Img{})}}}},
      {"key with a space", TCF::Table{TCF::FirmwareMap{}, {{"a b", {}}}}},
  };
  for (const auto& c : cases) {
    std::ostringstream os;
    c.table.ToStream(os);
    EXPECT_TRUE(os.fail()) << c.name;
  }
  std::ostringstream os;
  TCF::Table{{{"ab", File(Img{})}}}.ToStream(os);
  EXPECT_FALSE(os.fail());
}

}  // namespace
