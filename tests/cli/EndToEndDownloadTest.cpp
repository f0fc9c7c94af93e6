// Every kind of firmware downloaded by the program to a simulated board: what
// the program prints and what the board holds afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <iomanip>
#include <sstream>

#include "EndToEnd.h"
#include "file/HOFF.h"
#include "file/TBF.h"
#include "file/TCF.h"

namespace mrl_test {
namespace {

using EndToEndDownload = EndToEnd;

// ---- Hex -------------------------------------------------------------------

struct HexCase {
  const char* name;
  std::vector<std::string> words;
  std::size_t len;
  bool slow;
  bool loader_first;  // the loader image reads the HWID before the download
};
void PrintTo(const HexCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndHex : public EndToEnd, public testing::WithParamInterface<HexCase> {};

TEST_P(EndToEndHex, DownloadsTheProgramThroughTheBootMonitor) {
  const HexCase& c = GetParam();
  const Bytes hex = Pattern(c.len, 3);
  std::vector<std::string> words{"--hex", File("program.hex", hex)};
  words.insert(words.end(), c.words.begin(), c.words.end());
  const ProgramOutcome run = Mrl(words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, (c.loader_first ? kLoaderOut : "") + kHexOut);
  EXPECT_EQ(c.loader_first ? AfterStandInWarning(run.err) : run.err, "");
  // Without the EEPROM wait the program may end before the board has taken the last answer.
  const std::size_t downloads = c.loader_first ? 2 : 1;
  EXPECT_TRUE(
      board().WaitUntil([&](const BoardRecord& r) { return r.downloads.size() >= downloads; }));
  const BoardRecord record = board().record();
  ASSERT_EQ(record.downloads.size(), downloads);
  for (const BootDownload& download : record.downloads) EXPECT_EQ(download.slow, c.slow);
  EXPECT_EQ(record.downloads.back().image, hex);
  EXPECT_EQ(record.running, Program::kUserProgram);
}

INSTANTIATE_TEST_SUITE_P(Speeds, EndToEndHex,
                         testing::Values(HexCase{"Fast", {}, 4096, false, true},
                                         HexCase{"Slow", {"-p", "1"}, 64, true, true},
                                         HexCase{"RamOnly", {"--ram_only"}, 4096, false, false}),
                         [](const testing::TestParamInfo<HexCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Img and the EEPROM size test ----------------------------------------

struct ImgCase {
  const char* name;
  std::size_t len;
  unsigned offset;
  bool small_eeprom;
  bool size_test;
  int status;
};
void PrintTo(const ImgCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndImg : public EndToEnd, public testing::WithParamInterface<ImgCase> {};

TEST_P(EndToEndImg, WritesTheImageAtItsOffsetWhenTheEepromHoldsIt) {
  const ImgCase& c = GetParam();
  BoardConfig config;
  config.faults.small_eeprom = c.small_eeprom;
  StartBoard(config);
  const Bytes img = Pattern(c.len, 5);
  const ProgramOutcome run =
      Mrl({"--img", File("image.img", img), "--offset", std::to_string(c.offset)});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, c.status);
  const BoardRecord record = board().record();
  std::vector<std::uint8_t> commands{kInformation};
  if (c.size_test) commands.push_back(kSizeTest);
  if (c.status == 0) {
    commands.push_back(kDownload);
    EXPECT_EQ(run.out, kLoaderOut + kImgOut);
    EXPECT_EQ(AfterStandInWarning(run.err), "");
    EXPECT_EQ(Slice(board().eeprom(), c.offset, c.len), img);
  } else {
    EXPECT_EQ(run.out, kLoaderOut);
    EXPECT_EQ(AfterStandInWarning(run.err), "EEPROM is too small to contain the image\n");
    EXPECT_TRUE(record.writes.empty());
  }
  EXPECT_EQ(Commands(record), commands);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, EndToEndImg,
    testing::Values(ImgCase{"AtZero", 1000, 0, false, false, 0},
                    ImgCase{"AtAnEvenOffset", 1000, 0x102, false, false, 0},
                    ImgCase{"EndingAt32768", 32768, 0, false, false, 0},
                    ImgCase{"BeyondOnA512KbitEeprom", 32768, 2, false, true, 0},
                    ImgCase{"BeyondOnA256KbitEeprom", 32768, 2, true, true, 4}),
    [](const testing::TestParamInfo<ImgCase>& info) { return std::string(info.param.name); });

// ---- Xip ---------------------------------------------------------------------

// The image is bound to the HWID given, else to the board's; a flash target
// takes pages of 4096 bytes.
struct XipCase {
  const char* name;
  bool sethwid;
  bool flash;
};
void PrintTo(const XipCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEndXip : public EndToEnd, public testing::WithParamInterface<XipCase> {};

TEST_P(EndToEndXip, WritesTheImageBoundToTheHwid) {
  const XipCase& c = GetParam();
  StartBoard(c.sethwid ? BoardConfig{} : WithHwid());
  const Bytes xip = XipContainer();
  std::vector<std::string> words{"--xip", File("firmware.xip", xip)};
  if (c.sethwid) words.insert(words.end(), {"--sethwid", kHwidText});
  if (c.flash) words.push_back("--flash");
  const ProgramOutcome run = Mrl(words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, (c.sethwid ? Announcement(GivenHwid()) : "") + kLoaderOut + kImgOut);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const Bytes img = XipImage(xip, c.sethwid ? GivenHwid() : kBoardHwid, c.flash ? 4096 : 64);
  const auto len = static_cast<unsigned>(img.size());
  EXPECT_EQ(c.flash ? board().flash(0, len) : Slice(board().eeprom(), 0, len), img);
  EXPECT_EQ(board().record().erases, c.flash ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Hwids, EndToEndXip,
                         testing::Values(XipCase{"GivenHwid", true, false},
                                         XipCase{"BoardsHwid", false, false},
                                         XipCase{"GivenHwidOnFlash", true, true}),
                         [](const testing::TestParamInfo<XipCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- IS2023 ------------------------------------------------------------------

TEST_F(EndToEndDownload, Is2023GoesToItsOwnOffset) {
  const Bytes data = Pattern(300, 9);
  Bytes file{0x00, 0x01};  // offset 0x100, low byte first
  file.insert(file.end(), data.begin(), data.end());
  const ProgramOutcome run = Mrl({"--IS2023", File("bt.bin", file)});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + kImgOut);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  EXPECT_EQ(record.is2023_offset, 0x100);
  EXPECT_EQ(record.is2023_image, data);
}

// ---- TBF ---------------------------------------------------------------------

TEST_F(EndToEndDownload, TbfEntriesGoToTheirAddresses) {
  const Bytes first = Pattern(200, 1);
  const Bytes second = Pattern(300, 2);
  const TBF::Table table({TBF::Entry(TBF::Entry::Address(0), qmx::File::Img(first)),
                          TBF::Entry(TBF::Entry::Address(0x4000), qmx::File::Img(second))});
  const ProgramOutcome run = Mrl({"--tbf", dir_.Write("table.tbf", TbfFile(table))});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + TbfOut(2, false));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const Bytes eeprom = board().eeprom();
  EXPECT_EQ(Slice(eeprom, 0, first.size()), first);
  EXPECT_EQ(Slice(eeprom, 0x4000, second.size()), second);
  EXPECT_EQ(board().record().downloads.size(), 1u);
}

// The hex entry comes last, through the boot monitor after a reset.
TEST_F(EndToEndDownload, TbfHexEntryFollowsTheBinaryEntries) {
  const Bytes entry = Pattern(200, 1);
  const Bytes hex = Pattern(64, 4);
  const TBF::Table table({TBF::Entry(TBF::Entry::Address(0x200), qmx::File::Img(entry))},
                         qmx::File::Hex(hex));
  const ProgramOutcome run = Mrl({"--tbf", dir_.Write("table.tbf", TbfFile(table))});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + TbfOut(1, true));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  EXPECT_EQ(Slice(board().eeprom(), 0x200, entry.size()), entry);
  const BoardRecord record = board().record();
  ASSERT_EQ(record.downloads.size(), 2u);
  EXPECT_EQ(record.downloads[1].image, hex);
  EXPECT_EQ(record.running, Program::kUserProgram);
}

// ---- TCF ---------------------------------------------------------------------

// One container with an entry of every kind.
struct TcfContents {
  Bytes hex = Pattern(512, 11);
  Bytes img = Pattern(700, 12);
  Bytes xip = XipContainer();
  Bytes tbf_entry = Pattern(100, 13);
  Bytes is2023 = Pattern(90, 14);

  std::string File() const {
    TCF::FirmwareMap entries;
    entries.emplace("hex", TCF::FirmwareFile(qmx::File::Hex(hex)));
    entries.emplace("img", TCF::FirmwareFile(qmx::File::Img(img)));
    entries.emplace("xip", TCF::FirmwareFile(qmx::File::Xip(xip)));
    entries.emplace("tbf", TCF::FirmwareFile(TBF::Table({TBF::Entry(TBF::Entry::Address(0x800),
                                                                    qmx::File::Img(tbf_entry))})));
    entries.emplace("is2023", TCF::FirmwareFile(qmx::File::IS2023(0x10, is2023)));
    std::ostringstream text;
    TCF::Table(entries).ToStream(text);
    return text.str();
  }
};

struct TcfCase {
  const char* label;
  std::vector<std::string> words;
  std::string out;
  std::function<void(const SimulatedBoard&, const TcfContents&)> check;
};
void PrintTo(const TcfCase& c, std::ostream* os) {
  *os << c.label;
}

class EndToEndTcf : public EndToEnd, public testing::WithParamInterface<TcfCase> {};

TEST_P(EndToEndTcf, DownloadsTheSelectedEntry) {
  const TcfCase& c = GetParam();
  const TcfContents contents;
  std::vector<std::string> words{"--tcf", dir_.Write("firmware.tcf", contents.File()),
                                 "--tcf_entry", c.label};
  words.insert(words.end(), c.words.begin(), c.words.end());
  const ProgramOutcome run = Mrl(words);
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  c.check(board(), contents);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EndToEndTcf,
    testing::Values(TcfCase{"hex",
                            {},
                            kLoaderOut + kHexOut,
                            [](const SimulatedBoard& board, const TcfContents& contents) {
                              ASSERT_FALSE(board.record().downloads.empty());
                              EXPECT_EQ(board.record().downloads.back().image, contents.hex);
                            }},
                    TcfCase{"img",
                            {},
                            kLoaderOut + kImgOut,
                            [](const SimulatedBoard& board, const TcfContents& contents) {
                              EXPECT_EQ(Slice(board.eeprom(), 0, contents.img.size()),
                                        contents.img);
                            }},
                    TcfCase{"xip",
                            {"--sethwid", kHwidText},
                            Announcement(GivenHwid()) + kLoaderOut + kImgOut,
                            [](const SimulatedBoard& board, const TcfContents& contents) {
                              const Bytes img = XipImage(contents.xip, GivenHwid(), 64);
                              EXPECT_EQ(Slice(board.eeprom(), 0, img.size()), img);
                            }},
                    TcfCase{"tbf",
                            {},
                            kLoaderOut + TbfOut(1, false),
                            [](const SimulatedBoard& board, const TcfContents& contents) {
                              EXPECT_EQ(Slice(board.eeprom(), 0x800, contents.tbf_entry.size()),
                                        contents.tbf_entry);
                            }},
                    TcfCase{"is2023",
                            {},
                            kLoaderOut + kImgOut,
                            [](const SimulatedBoard& board, const TcfContents& contents) {
                              EXPECT_EQ(board.record().is2023_offset, 0x10);
                              EXPECT_EQ(board.record().is2023_image, contents.is2023);
                            }}),
    [](const testing::TestParamInfo<TcfCase>& info) { return std::string(info.param.label); });

// ---- HOFF --------------------------------------------------------------------

// Two entries, one for each target; the board has a HWID, which the download
// adds as the entry's last section.
struct HoffCase {
  const char* entry;
  bool flash;
};
void PrintTo(const HoffCase& c, std::ostream* os) {
  *os << c.entry;
}

HOFF::File HoffFile() {
  HOFF::File file;
  file.version = 1;
  file.entries.push_back(
      {"eeprom-fw", "eeprom", {{"a", 0x300, Pattern(100, 21)}, {"b", 0x1000, Pattern(64, 22)}}});
  file.entries.push_back(
      {"flash-fw", "flash", {{"boot", 0, Pattern(64, 23)}, {"app", 0x12000, Pattern(200, 24)}}});
  return file;
}

class EndToEndHoff : public EndToEnd, public testing::WithParamInterface<HoffCase> {};

// What a run that downloads a HOFF entry of sections - 1 sections and its
// "hwid" section prints.
std::string HoffOut(int sections) {
  std::string out = kLoaderOut;
  for (int i = 1; i <= sections; ++i) {
    out += "Loading HOFF section (" + std::to_string(i) + "/" + std::to_string(sections) + ")\n" +
           kImgOut + "\n";
  }
  return out;
}

TEST_P(EndToEndHoff, DownloadsTheEntrysSectionsAndTheHwid) {
  const HoffCase& c = GetParam();
  StartBoard(WithHwid());
  const HOFF::File file = HoffFile();
  std::ostringstream text;
  file.ToStream(text);
  const ProgramOutcome run =
      Mrl({"--hoff", dir_.Write("firmware.hoff", text.str()), "--hoff_entry", c.entry, "--force"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, HoffOut(3));
  EXPECT_EQ(AfterStandInWarning(run.err), "");

  std::vector<HOFF::Section> sections = file.entries[c.flash ? 1 : 0].sections;
  sections.push_back({"hwid", 110, HwidBytes(kBoardHwid)});
  const BoardRecord record = board().record();
  ASSERT_EQ(record.writes.size(), sections.size());
  for (std::size_t i = 0; i < sections.size(); ++i) {
    EXPECT_EQ(record.writes[i].flash, c.flash) << i;
    EXPECT_EQ(record.writes[i].offset, sections[i].offset) << i;
    EXPECT_EQ(record.writes[i].bytes, sections[i].bytes) << i;
  }
  EXPECT_EQ(record.erases, c.flash ? 1u : 0u);
  if (c.flash) {
    EXPECT_EQ(board().flash(0x12000, 200), sections[1].bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, EndToEndHoff,
                         testing::Values(HoffCase{"eeprom-fw", false}, HoffCase{"flash-fw", true}),
                         [](const testing::TestParamInfo<HoffCase>& info) {
                           return std::string(info.param.flash ? "Flash" : "Eeprom");
                         });

// A flash entry of two sections as large as one download carries, written
// pretty-printed (some 4.3 MB of text), is read and downloaded whole, clear of
// the HWID that follows it.
TEST_F(EndToEndDownload, LargeFlashHoffFileIsDownloadedWhole) {
  StartBoard(WithHwid());
  constexpr std::size_t kFullSection = 131070;
  HOFF::File file;
  file.version = 1;
  file.entries.push_back(
      {"fw",
       "flash",
       {{"low", 0x100, Pattern(kFullSection, 31)}, {"high", 0x20100, Pattern(kFullSection, 32)}}});
  std::ostringstream text;
  text << std::setw(2);
  file.ToStream(text);
  ASSERT_GT(text.str().size(), std::size_t{4300000});
  const ProgramOutcome run =
      Mrl({"--hoff", dir_.Write("large.hoff", text.str()), "--hoff_entry", "fw", "--force"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, HoffOut(3));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  ASSERT_EQ(record.writes.size(), 3u);
  EXPECT_EQ(record.writes[2].offset, kHwidAt);
  EXPECT_EQ(record.erases, 1u);
  for (const HOFF::Section& section : file.entries[0].sections) {
    EXPECT_EQ(board().flash(section.offset, kFullSection), section.bytes) << section.name;
  }
}

}  // namespace
}  // namespace mrl_test
