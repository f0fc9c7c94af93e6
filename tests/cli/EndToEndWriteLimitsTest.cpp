// The board gets only what the user meant: a loader that stays out of flash
// mode, a HOFF section that cannot go where it says, a clear or extract past
// the end of the EEPROM, and a write over the HWID that the same run programs
// are each refused before anything is written, and a range that needs the
// 512-kbit EEPROM asks for it first.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "EndToEnd.h"
#include "file/HOFF.h"
#include "file/TBF.h"

namespace mrl_test {
namespace {

const std::string kLoaderRefused = "Unexpected input from loader slave\n";
const std::string kTooSmall = "EEPROM is too small to contain the image\n";
const std::string kInvalidArgument = "Invalid argument received\n";
const std::string kSupply = "CDEFGHJKLMNP\nQRTUVWXY0123\n";
HWID::Raw SupplyHwid() {
  return HWID::base32ToRaw("CDEFGHJKLMNP");
}

using EndToEndWriteLimits = EndToEnd;

// The board holds nothing written by the run.
void ExpectNothingWritten(const SimulatedBoard& board, const Bytes& eeprom) {
  const BoardRecord record = board.record();
  EXPECT_TRUE(record.writes.empty());
  EXPECT_EQ(record.erases, 0u);
  EXPECT_EQ(board.eeprom(), eeprom);
}

// The run was refused with status 1 and err before it touched the board.
void ExpectRefused(const ProgramOutcome& run, const std::string& out, const std::string& err,
                   const SimulatedBoard& board, const Bytes& eeprom) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, err);
  ExpectBoardUntouched(board.record());
  EXPECT_EQ(board.eeprom(), eeprom);
}

// ---- Flash mode ------------------------------------------------------------

TEST_F(EndToEndWriteLimits, LoaderThatRefusesFlashModeEndsTheRunBeforeAnyWrite) {
  const struct {
    const char* name;
    bool refuse_only_flash_mode;  // else every command is answered with a stray byte
    bool xip_with_supply;         // else an img image with --force
    std::string err;
  } cases[] = {
      {"img, NACK", true, false, "Loader image NACKed command.\n" + kLoaderRefused},
      {"img, no ACK", false, false, "Loader image did not acknowledge command.\n" + kLoaderRefused},
      {"xip with a supply, NACK", true, true, "Loader image NACKed command.\n" + kLoaderRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config;
    config.faults.nacked_command = c.refuse_only_flash_mode ? 6 : -1;
    config.faults.unacknowledged_commands = !c.refuse_only_flash_mode;
    StartBoard(config);
    const Bytes eeprom = board().eeprom();
    const std::string supply = dir_.Write("hwids.txt", kSupply);
    const std::vector<std::string> words =
        c.xip_with_supply ? std::vector<std::string>{"--xip",       File("app.xip", XipContainer()),
                                                     "--sethwid",   supply,
                                                     "--hwid_file", "--flash"}
                          : std::vector<std::string>{"--img", File("a.img", Pattern(8192, 5)),
                                                     "--flash", "--force"};

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, kLoaderOut) << "no HWID taken off the supply";
    EXPECT_EQ(AfterStandInWarning(run.err), c.err);
    EXPECT_TRUE(board().record().commands.empty());
    EXPECT_FALSE(board().record().flash_mode);
    ExpectNothingWritten(board(), eeprom);
    EXPECT_EQ(TempDir::Read(supply), kSupply);
  }
}

// ---- HOFF sections -----------------------------------------------------------

std::string HoffText(const std::string& target, std::vector<HOFF::Section> sections) {
  HOFF::File file;
  file.version = 1;
  file.entries.push_back({"fw", target, std::move(sections)});
  std::ostringstream text;
  file.ToStream(text);
  return text.str();
}

TEST_F(EndToEndWriteLimits, HoffSectionThatCannotGoWhereItSaysIsRefusedBeforeTheBoard) {
  const HOFF::Section fine{"fine", 0x200, Pattern(64, 1)};
  const struct {
    const char* target;
    HOFF::Section section;
    std::string err;
  } cases[] = {
      {"eeprom",
       {"high", 0x10000, Pattern(2, 2)},
       "HOFF section 2 (\"high\") cannot be written: 2 bytes at offset 0x10000 pass the end of "
       "the EEPROM (65536 bytes).\n"},
      {"eeprom",
       {"edge", 0xFFE0, Pattern(64, 3)},
       "HOFF section 2 (\"edge\") cannot be written: 64 bytes at offset 0xFFE0 pass the end of "
       "the EEPROM (65536 bytes).\n"},
      {"eeprom",
       {"long", 0, Pattern(70000, 4)},
       "HOFF section 2 (\"long\") cannot be written: 70000 bytes at offset 0x0 pass the end of "
       "the EEPROM (65536 bytes).\n"},
      {"eeprom",
       {"odd", 0x400, Pattern(65, 5)},
       "HOFF section 2 (\"odd\") cannot be written: its 65 bytes are not whole 16-bit words.\n"},
      {"flash",
       {"odd", 0x400, Pattern(65, 6)},
       "HOFF section 2 (\"odd\") cannot be written: its 65 bytes are not whole 16-bit words.\n"},
      {"flash",
       {"huge", 0x20000, Pattern(131074, 7)},
       "HOFF section 2 (\"huge\") cannot be written: its 131074 bytes are more than one flash "
       "download carries (131070).\n"},
  };
  StartBoard(WithHwid());
  const Bytes eeprom = board().eeprom();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section.name + " " + c.target);
    const std::string hoff = dir_.Write("fw.hoff", HoffText(c.target, {fine, c.section}));

    const ProgramOutcome run = Mrl({"--hoff", hoff, "--hoff_entry", "fw", "--force"});

    ASSERT_FINISHED(run);
    ExpectRefused(run, "", c.err, board(), eeprom);
  }
}

// ---- Clear and extract ranges ------------------------------------------------

TEST_F(EndToEndWriteLimits, ClearAndExtractRangesPastTheEepromAreRefusedOnTheCommandLine) {
  const std::string processing = "Error processing arguments\n";
  const std::string past = "Offset plus length passes the end of the EEPROM (65536 bytes).\n";
  const std::string whole =
      "Clearing the flash erases it whole; offset and length apply only to the EEPROM.\n";
  const struct {
    std::vector<std::string> words;
    std::string err;
  } cases[] = {
      {{"--clear", "--offset", "0xFF00", "--length", "0x200"}, past},
      {{"--clear", "--offset", "0x8000", "--length", "0x10000"}, past},
      {{"--extract", "out.bin", "--offset", "0xFF00", "--length", "0x200"}, past},
      {{"--clear", "--flash", "--offset", "0x1000", "--length", "64"}, whole},
      {{"--clear", "--flash", "--length", "32768"}, whole},
  };
  StartBoard(WithHwid());
  const Bytes eeprom = board().eeprom();
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& word : c.words) line += word + " ";
    SCOPED_TRACE(line);
    std::vector<std::string> words = c.words;
    if (words.front() == "--extract") words[1] = dir_ / "out.bin";

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    ExpectRefused(run, "", c.err + processing, board(), eeprom);
    EXPECT_TRUE(dir_.Names().empty());
  }
}

// A range that ends beyond 32 KiB asks for the 512-kbit EEPROM first, so a
// 256-kbit one is never wrapped round to its start, where the HWID is; on the
// large EEPROM a range that ends at 64 KiB exactly goes whole.
struct LargeRangeCase {
  const char* name;
  bool small;
  std::function<std::vector<std::string>(TempDir&)> words;
  std::string out;  // after the loader, when the EEPROM is large enough
  std::function<void(const Bytes& before, const Bytes& after, TempDir&)> check;
};
void PrintTo(const LargeRangeCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndLargeRange : public EndToEnd, public testing::WithParamInterface<LargeRangeCase> {};

TEST_P(EndToEndLargeRange, NeedsTheLargeEeprom) {
  const LargeRangeCase& c = GetParam();
  BoardConfig config = WithHwid();
  config.faults.small_eeprom = c.small;
  StartBoard(config);
  const Bytes eeprom = board().eeprom();

  const ProgramOutcome run = Mrl(c.words(dir_));

  ASSERT_FINISHED(run);
  const BoardRecord record = board().record();
  ASSERT_GE(record.commands.size(), 2u);
  EXPECT_EQ(record.commands[1].command, kSizeTest);
  if (c.small) {
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.out, kLoaderOut);
    EXPECT_EQ(AfterStandInWarning(run.err), kTooSmall);
    ExpectNothingWritten(board(), eeprom);
  } else {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kLoaderOut + c.out);
    EXPECT_EQ(AfterStandInWarning(run.err), "");
  }
  c.check(eeprom, board().eeprom(), dir_);
}

const Bytes kTop = Pattern(0x100, 8);

std::vector<std::string> Hoff(TempDir& dir) {
  return {"--hoff", dir.Write("fw.hoff", HoffText("eeprom", {{"top", 0xFF00, kTop}})),
          "--hoff_entry", "fw", "--force"};
}
std::vector<std::string> Range(std::vector<std::string> action, const char* offset,
                               const char* length) {
  action.insert(action.end(), {"--offset", offset, "--length", length});
  return action;
}
void NoCheck(const Bytes&, const Bytes&, TempDir&) {}

INSTANTIATE_TEST_SUITE_P(
    Actions, EndToEndLargeRange,
    testing::Values(LargeRangeCase{"HoffOnSmall", true, Hoff, "", NoCheck},
                    LargeRangeCase{"HoffToTheEnd", false, Hoff,
                                   "Loading HOFF section (1/2)\n" + kImgOut +
                                       "\nLoading HOFF section (2/2)\n" + kImgOut + "\n",
                                   [](const Bytes& before, const Bytes& after, TempDir&) {
                                     EXPECT_EQ(Slice(after, 0xFF00, 0x100), kTop);
                                     EXPECT_EQ(Slice(after, 0, kHwidAt), Slice(before, 0, kHwidAt));
                                   }},
                    LargeRangeCase{"ClearOnSmall", true,
                                   [](TempDir&) {
                                     return Range({"--clear", "--force"}, "0x7F00", "0x102");
                                   },
                                   "", NoCheck},
                    LargeRangeCase{"ClearToTheEnd", false,
                                   [](TempDir&) {
                                     return Range({"--clear", "--force"}, "0xFF00", "0x100");
                                   },
                                   kImgOut,
                                   [](const Bytes& before, const Bytes& after, TempDir&) {
                                     EXPECT_EQ(Slice(after, 0xFF00, 0x100), Bytes(0x100, 0xFF));
                                     EXPECT_EQ(Slice(after, 0, 0xFF00), Slice(before, 0, 0xFF00));
                                   }},
                    LargeRangeCase{"ExtractOnSmall", true,
                                   [](TempDir& dir) {
                                     return Range({"--extract", dir / "out.bin"}, "0x7FFE", "4");
                                   },
                                   "",
                                   [](const Bytes&, const Bytes&, TempDir& dir) {
                                     EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
                                   }},
                    LargeRangeCase{
                        "ExtractToTheEnd", false,
                        [](TempDir& dir) {
                          return Range({"--extract", dir / "out.bin"}, "0xFF00", "0x100");
                        },
                        "Beginning image extraction...\nDone image extraction!\n",
                        [](const Bytes& before, const Bytes&, TempDir& dir) {
                          const Bytes top = Slice(before, 0xFF00, 0x100);
                          EXPECT_EQ(TempDir::Read(dir / "out.bin"),
                                    std::string(top.begin(), top.end()));
                        }}),
    [](const testing::TestParamInfo<LargeRangeCase>& info) {
      return std::string(info.param.name);
    });

// A run whose HOFF entry or extract needs the 512-kbit EEPROM asks before its
// first write, which is the HWID it programs: a 256-kbit board gets nothing,
// and a supply keeps its line. A 512-kbit board is asked once.
TEST_F(EndToEndWriteLimits, RunPast32KiBWithSethwidAsksBeforeItsFirstWrite) {
  const HWID::Raw text_hwid = GivenHwid();
  const struct {
    const char* name;
    bool hoff;  // else an extract
    bool supply;
  } cases[] = {
      {"HOFF, text", true, false},
      {"HOFF, supply", true, true},
      {"extract, text", false, false},
      {"extract, supply", false, true},
  };
  for (const bool small : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (small ? ", 256 kbit" : ", 512 kbit"));
      BoardConfig config;
      config.faults.small_eeprom = small;
      StartBoard(config);
      const Bytes eeprom = board().eeprom();
      const std::string supply = dir_.Write("hwids.txt", kSupply);
      const std::string out = dir_ / "x.bin";
      std::vector<std::string> words =
          c.hoff ? std::vector<std::string>{"--hoff",
                                            dir_.Write("fw.hoff",
                                                       HoffText("eeprom", {{"top", 0x8F00, kTop}})),
                                            "--hoff_entry", "fw"}
                 : std::vector<std::string>{"--extract", out, "--length", "0x9000"};
      if (c.supply) {
        words.insert(words.end(), {"--sethwid", supply, "--hwid_file"});
      } else {
        words.insert(words.end(), {"--sethwid", kHwidText});
      }
      const HWID::Raw hwid = c.supply ? SupplyHwid() : text_hwid;

      const ProgramOutcome run = Mrl(words);

      ASSERT_FINISHED(run);
      const BoardRecord record = board().record();
      const std::vector<std::uint8_t> commands = Commands(record);
      ASSERT_GE(commands.size(), 2u);
      EXPECT_EQ(commands[0], kInformation);
      EXPECT_EQ(commands[1], kSizeTest);
      EXPECT_EQ(std::count(commands.begin(), commands.end(), kSizeTest), 1);
      if (small) {
        EXPECT_EQ(run.status, 4);
        // A typed HWID is announced at once; one from a supply only once it
        // is taken, which a run that ends here never does.
        EXPECT_EQ(run.out, (c.supply ? "" : Announcement(hwid)) + kLoaderOut);
        EXPECT_EQ(AfterStandInWarning(run.err), kTooSmall);
        EXPECT_EQ(commands.size(), 2u);
        ExpectNothingWritten(board(), eeprom);
        EXPECT_EQ(TempDir::Read(supply), kSupply);
        EXPECT_FALSE(std::filesystem::exists(out));
      } else {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(hwid));
        if (c.hoff) {
          EXPECT_EQ(Slice(board().eeprom(), 0x8F00, kTop.size()), kTop);
        } else {
          const Bytes read = Slice(board().eeprom(), 0, 0x9000);
          EXPECT_EQ(TempDir::Read(out), std::string(read.begin(), read.end()));
        }
        EXPECT_EQ(TempDir::Read(supply), c.supply ? "QRTUVWXY0123\n" : kSupply);
      }
      std::filesystem::remove(out);
    }
  }
}

// ---- What the files alone refuse ------------------------------------------------

// An img image that would pass the end of the EEPROM at its offset is refused
// with its own error before the board is asked anything, its size included,
// whichever EEPROM the board holds.
TEST_F(EndToEndWriteLimits, ImgPastTheEndOfTheEepromIsRefusedBeforeTheBoard) {
  const struct {
    std::size_t length;
    const char* offset;
  } cases[] = {{40000, "30000"}, {4, "65534"}};
  for (const bool small : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.length) + " bytes at " + c.offset +
                   (small ? ", 256 kbit" : ", 512 kbit"));
      BoardConfig config;
      config.faults.small_eeprom = small;
      StartBoard(config);
      const Bytes eeprom = board().eeprom();
      const ProgramOutcome run =
          Mrl({"--img", File("a.img", Pattern(c.length, 3)), "--offset", c.offset});
      ASSERT_FINISHED(run);
      ExpectRefused(run, "", "Invalid memory address\n", board(), eeprom);
    }
  }
}

// ---- The HWID the run programs -------------------------------------------------

// An extract target that cannot be written is refused before the board is
// touched: the HWID that the same run programs is not written either, and a
// supply keeps every line.
TEST_F(EndToEndWriteLimits, UnwritableExtractTargetWithSethwidLeavesTheBoardAndTheSupplyWhole) {
  StartBoard();
  const Bytes eeprom = board().eeprom();
  const std::string supply = dir_.Write("hwids.txt", kSupply);
  for (const bool from_supply : {false, true}) {
    SCOPED_TRACE(from_supply ? "supply" : "text");
    std::vector<std::string> words{"--extract", dir_ / "missing/x.bin", "--length", "16",
                                   "--sethwid"};
    if (from_supply) {
      words.insert(words.end(), {supply, "--hwid_file"});
    } else {
      words.push_back(kHwidText);
    }
    const ProgramOutcome run = Mrl(words);
    ASSERT_FINISHED(run);
    ExpectRefused(run, from_supply ? "" : Announcement(GivenHwid()), "Cannot open file\n", board(),
                  eeprom);
    EXPECT_EQ(TempDir::Read(supply), kSupply);
  }
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
}

TEST_F(EndToEndWriteLimits, ClearOverTheHwidItProgramsIsRefusedOnTheCommandLine) {
  const std::string processing = "Error processing arguments\n";
  const std::string eeprom_clear =
      "The clear covers the HWID (EEPROM bytes 110 to 117) that --sethwid programs in this "
      "run.\n";
  const std::string flash_clear =
      "Clearing the flash erases the HWID that --sethwid programs in this run.\n";
  const struct {
    std::vector<std::string> words;  // the supply goes behind them
    std::string err;
  } cases[] = {
      {{"--clear"}, eeprom_clear},
      {{"--clear", "--length", "112"}, eeprom_clear},
      {{"--clear", "--flash", "--force"}, flash_clear},
  };
  StartBoard();
  const Bytes eeprom = board().eeprom();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const std::string supply = dir_.Write("hwids.txt", kSupply);
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"--sethwid", supply, "--hwid_file"});

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    ExpectRefused(run, "", c.err + processing, board(), eeprom);
    EXPECT_EQ(TempDir::Read(supply), kSupply);
  }
}

// A section over any byte of the HWID slot would leave the board with other
// bytes there than the HWID the run announced; a flash entry's HWID goes to
// the same bytes of the flash.
TEST_F(EndToEndWriteLimits, HoffSectionOverTheHwidItProgramsIsRefusedBeforeTheBoard) {
  const struct {
    const char* target;
    HOFF::Section section;
    bool supply;
    std::string err;
  } cases[] = {
      {"eeprom",
       {"app", 0x70, Pattern(64, 1)},
       false,
       "HOFF section 2 (\"app\") cannot be written: 64 bytes at offset 0x70 cover the HWID "
       "(EEPROM bytes 110 to 117) that --sethwid programs in this run.\n"},
      {"eeprom",
       {"app", 0x60, Pattern(16, 2)},
       true,
       "HOFF section 2 (\"app\") cannot be written: 16 bytes at offset 0x60 cover the HWID "
       "(EEPROM bytes 110 to 117) that --sethwid programs in this run.\n"},
      {"flash",
       {"boot", 0x40, Pattern(0x1000, 3)},
       false,
       "HOFF section 2 (\"boot\") cannot be written: 4096 bytes at offset 0x40 cover the HWID "
       "(flash bytes 110 to 117) that --sethwid programs in this run.\n"},
  };
  StartBoard();
  const Bytes eeprom = board().eeprom();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section.name + " " + c.target);
    const HOFF::Section first{"first", 0x1000, Pattern(64, 4)};
    const std::string hoff = dir_.Write("fw.hoff", HoffText(c.target, {first, c.section}));
    const std::string supply = dir_.Write("hwids.txt", kSupply);
    std::vector<std::string> words{"--hoff", hoff, "--hoff_entry", "fw", "--sethwid"};
    if (c.supply) {
      words.insert(words.end(), {supply, "--hwid_file"});
    } else {
      words.push_back(kHwidText);
    }

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    ExpectRefused(run, "", c.err, board(), eeprom);
    EXPECT_EQ(TempDir::Read(supply), kSupply);
  }
}

// An image over any byte of the HWID slot would leave the board with other
// bytes than the HWID the run announced, or lose the image's own bytes there.
TEST_F(EndToEndWriteLimits, TbfImageOverTheHwidItProgramsIsRefusedBeforeTheBoard) {
  const struct {
    std::uint16_t address;
    std::size_t length;
    bool refused;
  } cases[] = {
      {0x70, 64, true},   // written after the HWID
      {0x60, 64, true},   // written before it
      {0x76, 64, false},  // begins just after it
      {0x40, 46, false},  // ends just before it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    StartBoard();
    const Bytes eeprom = board().eeprom();
    const Bytes image = Pattern(c.length, 9);
    const TBF::Table table({TBF::Entry(TBF::Entry::Address(c.address), qmx::File::Img(image))});
    const std::string tbf = dir_.Write("t.tbf", TbfFile(table));
    const std::string supply = dir_.Write("hwids.txt", kSupply);
    const HWID::Raw hwid = SupplyHwid();

    const ProgramOutcome run = Mrl({"--tbf", tbf, "--sethwid", supply, "--hwid_file"});

    ASSERT_FINISHED(run);
    if (c.refused) {
      std::ostringstream address;
      address << std::hex << std::uppercase << c.address;
      ExpectRefused(run, "",
                    "TBF image 1 (" + std::to_string(c.length) + " bytes at 0x" + address.str() +
                        ") covers the HWID (EEPROM bytes 110 to 117) that --sethwid programs in "
                        "this run.\n" +
                        kInvalidArgument,
                    board(), eeprom);
      EXPECT_EQ(TempDir::Read(supply), kSupply);
    } else {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, kLoaderOut + Announcement(hwid) + TbfOut(2, false));
      EXPECT_EQ(Slice(board().eeprom(), kHwidAt, 8), HwidBytes(hwid));
      EXPECT_EQ(Slice(board().eeprom(), c.address, c.length), image);
      EXPECT_EQ(TempDir::Read(supply), "QRTUVWXY0123\n");
    }
  }
}

}  // namespace
}  // namespace mrl_test
