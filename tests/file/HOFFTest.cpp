#include "file/HOFF.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {

qmx::Result<HOFF::File, HOFF::Error> Read(const std::string& text) {
  std::istringstream is(text);
  return HOFF::FromStream(is);
}

int CodeOf(const std::string& text) {
  const auto result = Read(text);
  return result.index() == 0 ? 0 : static_cast<int>(std::get<1>(result));
}

// One entry with one section whose parts are replaceable.
std::string Doc(const std::string& section, const std::string& tail = "") {
  return R"({"version": 1, "entries": [{"name": "app", "target": "flash", "sections": [)" +
         section + "]}]" + tail + "}";
}

TEST(HOFFReadTest, ReadsEveryField) {
  const auto result = Read(R"({"version": 7, "x": 1, "metadata": {"who": "bench"},
      "entries": [{"name": "app", "target": "flash", "y": [1],
                   "sections": [{"name": "code", "offset": 4096, "bytes": [1, 2, 255], "z": 0}]}]}
      trailing text is not read)");
  ASSERT_EQ(0u, result.index());
  const HOFF::File& file = std::get<0>(result);
  EXPECT_EQ(7u, file.version);
  EXPECT_EQ((std::map<std::string, std::string>{{"who", "bench"}}), file.metadata);
  ASSERT_EQ(1u, file.GetEntries().size());
  const HOFF::Entry& entry = file.entries[0];
  EXPECT_EQ("app", entry.name);
  EXPECT_EQ("flash", entry.target);
  ASSERT_EQ(1u, entry.sections.size());
  EXPECT_EQ("code", entry.sections[0].name);
  EXPECT_EQ(4096u, entry.sections[0].offset);
  EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 255}), entry.sections[0].bytes);
}

TEST(HOFFReadTest, NumbersWrapLikeTheLibrarysCast) {
  const auto result = Read(Doc(R"({"name": "s", "offset": -1, "bytes": [300, 2.9]})"));
  ASSERT_EQ(0u, result.index());
  const HOFF::Section& section = std::get<0>(result).entries[0].sections[0];
  EXPECT_EQ(4294967295u, section.offset);
  EXPECT_EQ((std::vector<std::uint8_t>{44, 2}), section.bytes);
}

TEST(HOFFReadTest, BadDocumentsGiveTheirCodes) {
  const struct {
    const char* what;
    std::string text;
    int code;
  } cases[] = {
      {"valid", Doc(R"({"name": "s", "offset": 0, "bytes": []})"), 0},
      {"no metadata is fine", R"({"version": 1, "entries": []})", 0},
      {"empty stream", "", 2},
      {"not JSON", "{\"version\": ", 2},
      {"array at the top", "[1, 2]", 2},
      {"null metadata", R"({"version": 1, "entries": [], "metadata": null})", 2},
      {"metadata of numbers", R"({"version": 1, "entries": [], "metadata": {"a": 1}})", 2},
      {"offset as a string", Doc(R"({"name": "s", "offset": "0", "bytes": []})"), 2},
      {"bytes not an array", Doc(R"({"name": "s", "offset": 0, "bytes": 5})"), 2},
      {"byte as a string", Doc(R"({"name": "s", "offset": 0, "bytes": ["1"]})"), 2},
      {"byte too large a float", Doc(R"({"name": "s", "offset": 0, "bytes": [1e300]})"), 2},
      {"offset too large a float", Doc(R"({"name": "s", "offset": 5e9, "bytes": []})"), 2},
      {"number beyond double", Doc(R"({"name": "s", "offset": 1e999, "bytes": []})"), 2},
      {"no version", R"({"entries": []})", 3},
      {"no entries", R"({"version": 1})", 3},
      {"entry without target", R"({"version": 1, "entries": [{"name": "a", "sections": []}]})", 3},
      {"section without bytes", Doc(R"({"name": "s", "offset": 0})"), 3},
      {"first failure decides", Doc(R"({"offset": "x", "bytes": []})"), 3},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, CodeOf(c.text)) << c.what;
}

TEST(HOFFReadTest, MessagesOfTheCodes) {
  EXPECT_EQ("HOFF object missing required field.", HOFF::Error(3).msg());
  EXPECT_EQ("Error parsing HOFF file", HOFF::Error(2).msg());
  for (std::uint8_t code : {0, 1, 4, 255})
    EXPECT_EQ("Overlapping sections in entry", HOFF::Error(code).msg()) << int{code};
}

HOFF::Section Sized(unsigned offset, std::size_t size) {
  return HOFF::Section{"s", offset, std::vector<std::uint8_t>(size, 0xAA)};
}

TEST(HOFFValidTest, OverlapOfSectionsWithinAnEntry) {
  const struct {
    const char* what;
    std::vector<HOFF::Section> sections;
    bool valid;
  } cases[] = {
      {"touching", {Sized(0, 4), Sized(4, 4)}, true},
      {"same start", {Sized(16, 2), Sized(16, 8)}, false},
      {"second inside first", {Sized(0, 8), Sized(2, 2)}, false},
      {"first inside second", {Sized(2, 2), Sized(0, 8)}, false},
      {"empty inside", {Sized(0, 4), Sized(2, 0)}, false},
      {"two empty at one offset", {Sized(2, 0), Sized(2, 0)}, true},
      {"third overlaps first", {Sized(0, 4), Sized(10, 2), Sized(3, 1)}, false},
      {"none", {}, true},
  };
  for (const auto& c : cases) {
    const HOFF::Entry entry{"e", "eeprom", c.sections};
    EXPECT_EQ(c.valid, !entry.IsValid().failed()) << c.what;
    if (!c.valid) {
      EXPECT_EQ(1, static_cast<int>(entry.IsValid())) << c.what;
    }
  }
}

TEST(HOFFValidTest, EntriesAreCheckedSeparately) {
  HOFF::File file;
  file.entries = {{"a", "flash", {Sized(0, 4)}}, {"b", "flash", {Sized(0, 4)}}};
  EXPECT_FALSE(file.IsValid().failed());
  file.entries.push_back({"c", "flash", {Sized(0, 4), Sized(1, 1)}});
  EXPECT_EQ(1, static_cast<int>(file.IsValid()));
}

HOFF::File Sample() {
  HOFF::File file;
  file.version = 3;
  file.entries = {{"app", "flash", {{"code", 0x100, {0, 1, 254, 255}}, {"empty", 7, {}}}},
                  {"boot", "eeprom", {}}};
  file.metadata = {{"board", "mx2"}, {"rev", "b"}};
  return file;
}

TEST(HOFFWriteTest, RoundTripsCompactAndIndented) {
  for (int width : {0, 2}) {
    std::ostringstream os;
    if (width) os << std::setw(width);
    Sample().ToStream(os);
    EXPECT_EQ(width != 0, os.str().find('\n') != std::string::npos) << width;
    const auto back = Read(os.str());
    ASSERT_EQ(0u, back.index()) << os.str();
    EXPECT_EQ(Sample(), std::get<0>(back));
  }
}

TEST(HOFFWriteTest, WritesEmptyMetadataAndSortedKeys) {
  std::ostringstream os;
  HOFF::File{}.ToStream(os);
  EXPECT_EQ(R"({"entries":[],"metadata":{},"version":0})", os.str());
}

TEST(HOFFSectionTest, RawBytesFromAndToStreams) {
  std::istringstream is(std::string("ab\0 \n\xff", 6));
  is.get();  // starts from the stream's position
  const HOFF::Section section = HOFF::Section::FromEEM("eem", 12, is);
  EXPECT_EQ("eem", section.name);
  EXPECT_EQ(12u, section.offset);
  EXPECT_EQ((std::vector<std::uint8_t>{'b', 0, ' ', '\n', 0xff}), section.bytes);
  EXPECT_EQ(5u, section.GetSize());

  std::ostringstream os;
  section.ToEEM(os);
  EXPECT_EQ(std::string("b\0 \n\xff", 5), os.str());
}

TEST(HOFFSectionTest, ToEEMStopsWhereTheBufferRefuses) {
  char storage[3];
  struct FixedBuf : std::streambuf {
    FixedBuf(char* p, std::size_t n) { setp(p, p + n); }
  } buf(storage, sizeof storage);
  std::ostream os(&buf);
  Sized(0, 10).ToEEM(os);
  EXPECT_EQ(std::string(3, '\xAA'), std::string(storage, 3));
}

}  // namespace
