// Every reader refuses a stream that is not good (failed, or already at its
// end) or that cannot seek, with "Cannot open file" (code 1), before reading.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "StreamFixture.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/TCF.h"
#include "file/XipFirmwareFile.h"

namespace {

struct Outcome {
  bool failed;
  int code;
  std::string message;
};

template <typename Result>
Outcome Of(const Result& result) {
  if (result.index() == 0) return {false, 0, ""};
  return {true, static_cast<int>(std::get<1>(result)), std::get<1>(result).msg()};
}

template <typename Table>
std::string Written(const Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

TEST(UnreadableStreamTest, EveryReaderRefusesWithCode1) {
  using namespace qmx::File;
  const struct {
    const char* reader;
    std::function<Outcome(std::istream&)> read;
    std::string readable;  // what the unseekable stream holds: valid contents
  } cases[] = {
      {"hex", [](std::istream& is) { return Of(Hex::FromStream(is)); }, std::string("\0\0\1\2", 4)},
      {"img", [](std::istream& is) { return Of(Img::FromStream(is)); }, "ab"},
      {"xip", [](std::istream& is) { return Of(Xip::FromStream(is)); }, "ab"},
      {"IS2023", [](std::istream& is) { return Of(IS2023::FromStream(is)); },
       std::string("\0\0\1\2", 4)},
      {"TBF", [](std::istream& is) { return Of(TBF::FromStream(is)); },
       Written(TBF::Table{std::vector<TBF::Entry>{}})},
      {"TCF", [](std::istream& is) { return Of(TCF::FromStream(is)); },
       Written(TCF::Table{TCF::FirmwareMap{}})},
  };
  for (const auto& c : cases) {
    std::istringstream readable(c.readable);
    ASSERT_FALSE(c.read(readable).failed) << c.reader;

    auto failed = fixture::FailedStream();
    auto ended = fixture::EndedStream();
    fixture::UnseekableBuffer buffer(c.readable);
    std::istream unseekable(&buffer);
    for (std::istream* is :
         {static_cast<std::istream*>(&failed), static_cast<std::istream*>(&ended), &unseekable}) {
      const Outcome outcome = c.read(*is);
      EXPECT_TRUE(outcome.failed) << c.reader;
      EXPECT_EQ(1, outcome.code) << c.reader;
      EXPECT_EQ("Cannot open file", outcome.message) << c.reader;
    }
  }
}

// A buffer that tells a length beyond what it holds, as the stream of a
// folder does on some file systems (there the largest offset there is).
class OverstatedBuffer : public std::stringbuf {
 public:
  explicit OverstatedBuffer(const std::string& text) : std::stringbuf(text, std::ios::in) {}

 protected:
  pos_type seekoff(off_type offset, std::ios::seekdir direction,
                   std::ios::openmode which) override {
    if (direction == std::ios::end) at_end_ = true;
    if (direction == std::ios::beg) at_end_ = false;
    if (at_end_) return pos_type(off_type{1} << 20);
    return std::stringbuf::seekoff(offset, direction, which);
  }
  pos_type seekpos(pos_type position, std::ios::openmode which) override {
    at_end_ = false;
    return std::stringbuf::seekpos(position, which);
  }

 private:
  bool at_end_ = false;
};

// The raw read holds what arrives, never the length told: a stream holding
// less is refused, not read as zeros up to that length.
TEST(UnreadableStreamTest, TheRawReadDoesNotTrustTheLengthTold) {
  OverstatedBuffer buffer("ab");
  std::istream overstated(&buffer);
  const Outcome outcome = Of(qmx::File::Xip::FromStream(overstated));
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ("Cannot open file", outcome.message);
}

}  // namespace
