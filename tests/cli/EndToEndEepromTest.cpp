// The program's EEPROM tools on a simulated board: extract, clear and the size test.
#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using EndToEndEeprom = EndToEnd;

// The range holds the board's HWID, so the bytes are not all alike.
TEST_F(EndToEndEeprom, ExtractWritesExactlyTheBytesRead) {
  StartBoard(WithHwid());
  const std::string file = dir_ / "extract.bin";
  const ProgramOutcome run = Mrl({"--extract", file, "--offset", "104", "--length", "16"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + "Beginning image extraction...\nDone image extraction!\n");
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const Bytes expected = Slice(board().eeprom(), 104, 16);
  EXPECT_EQ(TempDir::Read(file), std::string(expected.begin(), expected.end()));
}

TEST_F(EndToEndEeprom, ClearFillsTheRangeWithFF) {
  const ProgramOutcome run = Mrl({"--clear", "--offset", "0x200", "--length", "64"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + kImgOut);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  Bytes expected(68, 0xFF);
  expected.front() = expected[1] = expected[66] = expected.back() = 0;  // untouched neighbours
  EXPECT_EQ(Slice(board().eeprom(), 0x1FE, 68), expected);
}

TEST_F(EndToEndEeprom, ClearOnFlashErasesIt) {
  const ProgramOutcome run = Mrl({"--clear", "--flash"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  EXPECT_EQ(record.erases, 1u);
  EXPECT_TRUE(record.flash_mode);
  EXPECT_TRUE(record.writes.empty());
}

struct SizeCase {
  const char* name;
  bool small_eeprom;
  int status;
  std::string out;
  std::string err;
};
void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndTestSize : public EndToEnd, public testing::WithParamInterface<SizeCase> {};

TEST_P(EndToEndTestSize, TellsTheEepromSize) {
  const SizeCase& c = GetParam();
  BoardConfig config;
  config.faults.small_eeprom = c.small_eeprom;
  StartBoard(config);
  const ProgramOutcome run = Mrl({"--test_size"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, kLoaderOut + c.out);
  EXPECT_EQ(AfterStandInWarning(run.err), c.err);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EndToEndTestSize,
                         testing::Values(SizeCase{"Kbit512", false, 0, "EEPROM is 512kbit.\n", ""},
                                         SizeCase{"Kbit256", true, 4, "EEPROM is 256kbit.\n",
                                                  "EEPROM is too small to contain the image\n"}),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace mrl_test
