// The HOFF reader works on the parser's events as they come; what it makes of
// a text must be what the document conversions make of the parsed document,
// also where the two ways of reading could part: keys given twice, failures
// in an order other than the text's, values skipped unread, numbers at the
// edges of their fields. A stream is read up to the file limit, no further.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "HoffDocumentRead.h"
#include "file/ByteViewStream.h"
#include "file/HOFF.h"

namespace {

using Read = mrl_test::HoffRead;
using mrl_test::DocumentRead;

Read StreamRead(const std::string& text) {
  std::istringstream is(text);
  return HOFF::FromStream(is);
}

int CodeOf(const Read& read) {
  return read.index() == 0 ? 0 : static_cast<int>(std::get<1>(read));
}

// A file of one entry "e" whose one section has the given members.
std::string OneSection(const std::string& members) {
  return R"({"version": 1, "entries": [{"name": "e", "target": "flash", "sections": [{)" + members +
         "}]}]}";
}

std::string Nested(std::size_t depth, const std::string& inner) {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

struct Case {
  const char* what;
  std::string text;
  int code;
};

TEST(HOFFStreamReaderTest, ReadsAsTheDocumentConversionsDo) {
  const Case cases[] = {
      // A key given twice counts with its last value, in every object.
      {"version wrong, then a number", R"({"version": "x", "version": 2, "entries": []})", 0},
      {"version a number, then wrong", R"({"version": 2, "version": "x", "entries": []})", 2},
      {"bad entries, then good ones",
       R"({"version": 1, "entries": [{"name": 5}], "entries": [{"name": "a", "target": "t",
          "sections": []}]})",
       0},
      {"good entries, then a number", R"({"version": 1, "entries": [], "entries": 5})", 2},
      {"metadata value wrong, then a string",
       R"({"version": 1, "entries": [], "metadata": {"a": 1, "a": "b"}})", 0},
      {"metadata value a string, then wrong",
       R"({"version": 1, "entries": [], "metadata": {"a": "b", "a": []}})", 2},
      {"metadata wrong, then an object",
       R"({"version": 1, "entries": [], "metadata": 5, "metadata": {"k": "v"}})", 0},
      {"metadata an object, then null",
       R"({"version": 1, "entries": [], "metadata": {}, "metadata": null})", 2},
      {"metadata value wrong in an object given again",
       R"({"version": 1, "entries": [], "metadata": {"a": 1}, "metadata": {"b": "c"}})", 0},
      {"metadata keys out of order, then the object again",
       R"({"version": 1, "entries": [], "metadata": {"b": "1", "a": "2", "c": 3, "c": "4"},
          "metadata": {"z": "x", "y": "w", "x": [], "x": ""}})",
       0},
      {"metadata value wrong beside good ones",
       R"({"version": 1, "entries": [], "metadata": {"b": "1", "a": 2, "c": "3"}})", 2},
      {"bytes twice", OneSection(R"("name": "s", "offset": 0, "bytes": [1], "bytes": [2, 3])"), 0},
      {"bytes wrong, then an array",
       OneSection(R"("name": "s", "offset": 0, "bytes": ["x"], "bytes": [4])"), 0},
      {"offset twice", OneSection(R"("name": "s", "offset": "x", "offset": 7, "bytes": [])"), 0},
      {"name twice", OneSection(R"("name": 1, "name": "s", "offset": 0, "bytes": [])"), 0},
      // The first failure in the conversions' order decides, not the text's.
      {"entries before version in the text", R"({"entries": [{}], "version": "x"})", 2},
      {"version absent, entries wrong", R"({"entries": 5})", 3},
      {"entry name absent before target wrong",
       R"({"version": 1, "entries": [{"target": 5, "sections": []}]})", 3},
      {"section name absent after bytes wrong", OneSection(R"("bytes": "x", "offset": 0)"), 3},
      {"first entry wrong, second incomplete",
       R"({"version": 1, "entries": [{"name": 1, "target": "t", "sections": []}, {}]})", 2},
      {"first entry incomplete, second wrong",
       R"({"version": 1, "entries": [{}, {"name": 1, "target": "t", "sections": []}]})", 3},
      {"entries fail before metadata", R"({"metadata": 5, "version": 1, "entries": [{}]})", 3},
      {"a syntax error outweighs a missing key", R"({"entries": [{}], )", 2},
      // Elements and values of the wrong JSON type, of any size.
      {"entry a number", R"({"version": 1, "entries": [5]})", 2},
      {"entry null", R"({"version": 1, "entries": [null]})", 2},
      {"entry an array", R"({"version": 1, "entries": [[{"name": "a"}]]})", 2},
      {"section an array",
       R"({"version": 1, "entries": [{"name": "e", "target": "t", "sections": [[]]}]})", 2},
      {"byte an array", OneSection(R"("name": "s", "offset": 0, "bytes": [1, [2], 3])"), 2},
      {"byte an object", OneSection(R"("name": "s", "offset": 0, "bytes": [{"b": 1}])"), 2},
      {"byte null", OneSection(R"("name": "s", "offset": 0, "bytes": [null])"), 2},
      {"name an object", OneSection(R"("name": {"name": "s"}, "offset": 0, "bytes": [])"), 2},
      {"metadata value an object",
       R"({"version": 1, "entries": [], "metadata": {"a": {"b": "c"}}})", 2},
      {"top-level null", "null", 2},
      {"top-level string", R"("version")", 2},
      {"top-level number", "5", 2},
      {"top-level nested arrays", Nested(100000, R"({"version": 1, "entries": []})"), 2},
      // Unknown keys are skipped whatever they hold; known names count only where they belong.
      {"deeply nested unknown value",
       R"({"version": 1, "entries": [], "x": )" + Nested(100000, R"({"version": "no"})") + "}", 0},
      {"known keys inside an unknown one",
       R"({"x": {"version": 1, "entries": []}, "version": 1, "entries": []})", 0},
      {"bytes under another name", OneSection(R"("name": "s", "offset": 0, "Bytes": [])"), 3},
      // Numbers at the edges of their fields; booleans count as 0 and 1.
      {"booleans", OneSection(R"("name": "s", "offset": true, "bytes": [true, false])"), 0},
      {"largest integer wraps", OneSection(R"("name": "s", "offset": 18446744073709551615,
          "bytes": [18446744073709551615, -256, -1])"),
       0},
      {"integer beyond 64 bits is a float out of range",
       OneSection(R"("name": "s", "offset": 18446744073709551616, "bytes": [])"), 2},
      {"float just below the top", OneSection(R"("name": "s", "offset": 4294967295.5,
          "bytes": [255.99, -0.99])"),
       0},
      {"float at the top", OneSection(R"("name": "s", "offset": 0, "bytes": [256.0])"), 2},
      {"float at minus one", OneSection(R"("name": "s", "offset": -1.0, "bytes": [])"), 2},
      {"number beyond double", R"({"version": 1e400, "entries": []})", 2},
      {"very long number", R"({"version": 1)" + std::string(5000, '0') + R"(, "entries": []})", 2},
      // The text around the value.
      {"byte order mark",
       "\xEF\xBB\xBF"
       R"({"version": 1, "entries": []})",
       0},
      {"text after the value", R"({"version": 1, "entries": []} {"version": )", 0},
      {"comment", R"({"version": 1, /* x */ "entries": []})", 2},
      {"two values without a separator", R"({"version": 1 "entries": []})", 2},
      {"only white space", " \n\t ", 2},
  };
  for (const Case& c : cases) {
    const Read stream = StreamRead(c.text);
    const Read document = DocumentRead(c.text);
    EXPECT_EQ(CodeOf(stream), c.code) << c.what;
    EXPECT_EQ(CodeOf(stream), CodeOf(document)) << c.what;
    if (stream.index() == 0 && document.index() == 0) {
      EXPECT_TRUE(std::get<0>(stream) == std::get<0>(document)) << c.what;
    }
  }
}

TEST(HOFFStreamReaderTest, KeepsTheLastOfRepeatedKeysAndWrapsNumbers) {
  const Read read = StreamRead(R"({"version": true, "version": 9, "metadata": {"a": 1, "a": "b"},
      "entries": [{"name": "x", "target": "t", "sections": []}],
      "entries": [{"name": "e", "target": "flash", "sections": [
        {"name": "s", "offset": -1, "bytes": [300, true, 2.9, -1], "bytes": [256, 1, -255]}]}]})");
  ASSERT_EQ(read.index(), 0u);
  const HOFF::File& file = std::get<0>(read);
  EXPECT_EQ(file.version, 9u);
  EXPECT_EQ(file.metadata, (std::map<std::string, std::string>{{"a", "b"}}));
  ASSERT_EQ(file.entries.size(), 1u);
  EXPECT_EQ(file.entries[0].name, "e");
  ASSERT_EQ(file.entries[0].sections.size(), 1u);
  EXPECT_EQ(file.entries[0].sections[0].offset, 4294967295u);
  EXPECT_EQ(file.entries[0].sections[0].bytes, (std::vector<std::uint8_t>{0, 1, 1}));
}

// The text of a file whose value ends at its last character, size characters
// in all: its one section's bytes are ones, padded with white space.
struct SizedText {
  qmx::File::Bytes text;
  std::size_t ones = 0;
};

SizedText TextOfSize(std::size_t size) {
  const std::string head =
      R"({"version": 1, "entries": [{"name": "e", "target": "flash", "sections": [)"
      R"({"name": "s", "offset": 0, "bytes": [)";
  const std::string tail = "1]}]}]}";
  SizedText sized{qmx::File::Bytes(size, ' '), 1};
  std::copy(head.begin(), head.end(), sized.text.begin());
  // "1," every 64 characters, so that no run of white space is long.
  for (std::size_t at = head.size(); at + 2 + tail.size() <= size; at += 64, ++sized.ones) {
    sized.text[at] = '1';
    sized.text[at + 1] = ',';
  }
  std::copy(tail.begin(), tail.end(), sized.text.end() - static_cast<std::ptrdiff_t>(tail.size()));
  return sized;
}

TEST(HOFFStreamReaderTest, ReadsAStreamUpToTheFileLimit) {
  const struct {
    const char* what;
    std::size_t size;
    int code;
  } cases[] = {
      {"value ends at the limit", HOFF::kMaxFileSize, 0},
      {"value ends one character beyond", HOFF::kMaxFileSize + 1, 5},
  };
  for (const auto& c : cases) {
    const SizedText sized = TextOfSize(c.size);
    qmx::File::ByteViewStream is(sized.text);
    const Read read = HOFF::FromStream(is);
    ASSERT_EQ(CodeOf(read), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(std::get<0>(read).entries[0].sections[0].bytes,
                std::vector<std::uint8_t>(sized.ones, 1))
          << c.what;
    }
  }
  EXPECT_EQ(HOFF::Error::kTooLarge.msg(), "HOFF file is too large (more than 64 MiB)");
}

// Only the value is taken from the stream, however much follows it.
TEST(HOFFStreamReaderTest, LeavesWhatFollowsTheValueInTheStream) {
  qmx::File::Bytes text = TextOfSize(1000).text;
  text.resize(HOFF::kMaxFileSize + 1000, 'x');
  qmx::File::ByteViewStream is(text);
  EXPECT_EQ(CodeOf(HOFF::FromStream(is)), 0);
  EXPECT_EQ(is.tellg(), 1000);
}

}  // namespace
