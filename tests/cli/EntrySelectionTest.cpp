#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "PlanText.h"
#include "support/TempDir.h"

namespace {

using mrl_test::CommandLine;
using mrl_test::PlanText;
using mrl_test::TempDir;

TCF::FirmwareFile Entry(TCF::Firmware firmware) {
  return TCF::FirmwareFile(std::move(firmware));
}

std::string TcfFile(const TempDir& dir, TCF::FirmwareMap entries) {
  std::ostringstream os;
  TCF::Table(std::move(entries)).ToStream(os);
  return dir.Write("container.tcf", os.str());
}

HOFF::Entry HoffEntry(std::string name, std::string target) {
  HOFF::Entry entry;
  entry.name = std::move(name);
  entry.target = std::move(target);
  entry.sections.push_back({"code", 0x100, {1, 2, 3, 4}});
  return entry;
}

std::string HoffFile(const TempDir& dir, std::vector<HOFF::Entry> entries,
                     const std::string& name = "firmware.hoff") {
  HOFF::File file;
  file.version = 1;
  file.entries = std::move(entries);
  std::ostringstream os;
  file.ToStream(os);
  return dir.Write(name, os.str());
}

LoaderArgs::Plan Plan(CommandLine& command) {
  return command.loader.PlanActions(command.values());
}

TEST(TcfSelection, TheOnlyEntryIsTakenWithANote) {
  TempDir dir;
  const std::string path =
      TcfFile(dir, {{"bt", Entry(qmx::File::IS2023(0x10, qmx::File::Bytes{1, 2}))}});
  CommandLine command({"-d", "p", "--tcf", path});
  const LoaderArgs::Plan plan = Plan(command);
  EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
  EXPECT_EQ(PlanText(plan.actions),
            (std::vector<std::string>{"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid",
                                      "DownloadIs2023Image"}));
  EXPECT_EQ(command.console.out(),
            "Input TCF file only contains one firmware file labeled \"bt\". Selecting this "
            "despite tcf_entry not being supplied.\n");
  EXPECT_EQ(command.loader.firmware.which(), 4);
  EXPECT_EQ(command.console.err(), "");
}

TEST(TcfSelection, TheNamedEntryDecidesTheFormat) {
  TempDir dir;
  const std::string path = TcfFile(dir, {{"app", Entry(qmx::File::Img(qmx::File::Bytes{1, 2}))},
                                         {"boot", Entry(qmx::File::Hex(qmx::File::Bytes{1, 2}))}});
  CommandLine command({"-d", "p", "--tcf", path, "--tcf_entry", "boot", "--ram_only"});
  const LoaderArgs::Plan plan = Plan(command);
  EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
  EXPECT_EQ(PlanText(plan.actions), (std::vector<std::string>{"CheckPortGiven", "OpenSerialPort",
                                                              "DownloadHexImage[ram_only]"}));
  EXPECT_EQ(command.console.out(), "");
}

TEST(TcfSelection, UnselectableEntriesAreRefusedWithTheLabels) {
  TempDir dir;
  const std::string two = TcfFile(dir, {{"app", Entry(qmx::File::Img(qmx::File::Bytes{1, 2}))},
                                        {"App2", Entry(qmx::File::Img(qmx::File::Bytes{3, 4}))}});
  const struct {
    std::vector<std::string> words;
    std::string first_line;
  } cases[] = {
      {{"-d", "p", "--tcf", two},
       "Input TCF file contains multiple firmware files, but tcf_entry was not supplied to select "
       "one.\n"},
      {{"-d", "p", "--tcf", two, "--tcf_entry", "APP"},
       "No firmware with label \"APP\" found within the input TCF file.\n"},
  };
  for (const auto& c : cases) {
    CommandLine command(c.words);
    const LoaderArgs::Plan plan = Plan(command);
    EXPECT_EQ(plan.verdict, qmx::Verdict::kRefusedFullyReported);
    EXPECT_TRUE(plan.actions.empty());
    const std::string err = command.console.err();
    EXPECT_EQ(err.substr(0, c.first_line.size()), c.first_line);
    // The labels follow in the table's own order.
    const std::string labels = err.substr(c.first_line.size());
    EXPECT_TRUE(labels == "Available entries are:\napp\nApp2\n" ||
                labels == "Available entries are:\nApp2\napp\n")
        << labels;
  }
}

TEST(TcfSelection, ReaderErrorsAndEmptyContainers) {
  TempDir dir;
  const std::string empty = TcfFile(dir, {});
  const std::string missing = dir / "missing.tcf";
  const struct {
    std::string path;
    const char* err;
  } cases[] = {
      {empty, "Input TCF file does not contain any firmware files.\n"},
      {missing, "Cannot open file\n"},
  };
  for (const auto& c : cases) {
    CommandLine command({"-d", "p", "--tcf", c.path});
    const LoaderArgs::Plan plan = Plan(command);
    EXPECT_EQ(plan.verdict, qmx::Verdict::kRefusedFullyReported);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(command.console.err(), c.err);
  }
}

TEST(TcfSelection, BoundsAreCheckedBeforeTheContainerIsRead) {
  TempDir dir;
  CommandLine command({"-d", "p", "--tcf", dir / "missing.tcf", "-p", "3"});
  const auto plan = command.args().GenerateFuncs();
  EXPECT_TRUE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(command.console.err(),
            "Invalid protocol version provided.\nError processing arguments\n");
}

TEST(HoffSelection, TheOnlyEntryIsNamedAndItsTargetDecidesFlash) {
  TempDir dir;
  for (const char* target : {"flash", "eeprom"}) {
    SCOPED_TRACE(target);
    const std::string path = HoffFile(dir, {HoffEntry("main", target)});
    CommandLine command({"-d", "p", "--hoff", path});
    const LoaderArgs::Plan plan = Plan(command);
    EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
    const bool flash = std::string(target) == "flash";
    std::vector<std::string> expected{
        "CheckPortGiven", "OpenSerialPort",
        flash ? "LoadHelperAndReadHwid[flash]" : "LoadHelperAndReadHwid", "GuardExistingHwid"};
    // Only an EEPROM entry reaches where the EEPROM's size matters.
    expected.push_back(flash ? "EraseFlashImage" : "TestEepromReach");
    expected.push_back(flash ? "DownloadHoffEntry[flash]" : "DownloadHoffEntry");
    EXPECT_EQ(PlanText(plan.actions), expected);
    EXPECT_EQ(command.loader.hoff_entry, "main");
    EXPECT_EQ(command.console.out(),
              "HOFF file only contains one firmware file labeled \"main\". Selecting this despite "
              "hoff_entry not being supplied.\n");
  }
}

TEST(HoffSelection, TheFirstEntryOfTheNameDecidesFlash) {
  TempDir dir;
  const std::string path = HoffFile(
      dir, {HoffEntry("other", "flash"), HoffEntry("app", "eeprom"), HoffEntry("app", "flash")});
  CommandLine command({"-d", "p", "--hoff", path, "--hoff_entry", "app"});
  const LoaderArgs::Plan plan = Plan(command);
  EXPECT_EQ(
      PlanText(plan.actions),
      (std::vector<std::string>{"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid",
                                "GuardExistingHwid", "TestEepromReach", "DownloadHoffEntry"}));
  EXPECT_EQ(command.loader.hoff_file.entries.size(), 3u);
}

TEST(HoffSelection, UnselectableEntriesAreRefusedWithTheLabels) {
  TempDir dir;
  const std::string two = HoffFile(dir, {HoffEntry("a", "flash"), HoffEntry("b", "flash")});
  const struct {
    std::vector<std::string> words;
    const char* err;
  } cases[] = {
      {{"-d", "p", "--hoff", two},
       "HOFF file contains multiple firmware files, but hoff_entry was not supplied to select "
       "one.\nAvailable HOFF entries are:\na\nb\n"},
      {{"-d", "p", "--hoff", two, "--hoff_entry", "c"},
       "No HOFF entry with label \"c\" found within the input HOFF file.\nAvailable HOFF entries "
       "are:\na\nb\n"},
      {{"-d", "p", "--hoff", HoffFile(dir, {}, "empty.hoff")},
       "HOFF file does not contain any firmware files.\n"},
      {{"-d", "p", "--hoff", dir.Write("bad.hoff", "{")}, "Error parsing HOFF file\n"},
  };
  for (const auto& c : cases) {
    CommandLine command(c.words);
    const LoaderArgs::Plan plan = Plan(command);
    EXPECT_EQ(plan.verdict, qmx::Verdict::kRefusedFullyReported);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(command.console.err(), c.err);
  }
}

// The memory the entry goes to, its target or --flash, decides where its
// sections may go; every entry of the name is downloaded, so each is checked.
TEST(HoffSelection, SectionsAreHeldToTheMemoryTheEntryGoesTo) {
  TempDir dir;
  HOFF::Entry high = HoffEntry("app", "eeprom");
  high.sections.push_back({"high", 0x10000, {1, 2}});
  const std::string high_eeprom = HoffFile(dir, {high}, "high.hoff");
  high.target = "flash";
  const std::string high_flash = HoffFile(dir, {high}, "high-flash.hoff");
  const std::string second_of_name =
      HoffFile(dir,
               {HoffEntry("app", "eeprom"), HoffEntry("other", "eeprom"),
                [] {
                  HOFF::Entry odd = HoffEntry("app", "eeprom");
                  odd.sections.front().bytes.push_back(5);
                  return odd;
                }()},
               "second.hoff");
  const std::string refused_high =
      "HOFF section 2 (\"high\") cannot be written: 2 bytes at offset 0x10000 pass the end of the "
      "EEPROM (65536 bytes).\n";
  const struct {
    std::vector<std::string> words;
    const char* err;  // null: accepted
  } cases[] = {
      {{"-d", "p", "--hoff", high_eeprom, "--hoff_entry", "app"}, refused_high.c_str()},
      {{"-d", "p", "--hoff", high_eeprom, "--hoff_entry", "app", "--flash"}, nullptr},
      {{"-d", "p", "--hoff", high_flash, "--hoff_entry", "app"}, nullptr},
      {{"-d", "p", "--hoff", second_of_name, "--hoff_entry", "app"},
       "HOFF section 1 (\"code\") cannot be written: its 5 bytes are not whole 16-bit words.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words[3] + (c.words.size() > 6 ? " --flash" : ""));
    CommandLine command(c.words);
    const LoaderArgs::Plan plan = Plan(command);
    if (c.err == nullptr) {
      EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
      EXPECT_EQ(command.console.err(), "");
    } else {
      EXPECT_EQ(plan.verdict, qmx::Verdict::kRefusedFullyReported);
      EXPECT_TRUE(plan.actions.empty());
      EXPECT_EQ(command.console.err(), c.err);
    }
  }
}

TEST(ContainerSelection, TcfWithHoffReadsTheTcfFirstAndIsThenExclusive) {
  TempDir dir;
  const std::string path = HoffFile(dir, {HoffEntry("main", "eeprom")});
  CommandLine command({"-d", "p", "--tcf", path, "--hoff", path});
  const auto plan = command.args().GenerateFuncs();
  EXPECT_TRUE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(
      command.console.err(),
      "Invalid file format\nThe following provided flags are mutually exclusive:\ntcf\nhoff\n");
}

// The reader's message is the whole report: no "Error processing arguments",
// and nothing runs, not even the version.
TEST(ContainerSelection, AFailedSelectionRefusesTheCommandLine) {
  TempDir dir;
  const struct {
    const char* option;
    std::string path;
    const char* err;
  } cases[] = {
      {"--tcf", dir / "missing.tcf", "Cannot open file\n"},
      {"--hoff", dir.Write("bad.hoff", "{"), "Error parsing HOFF file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    CommandLine command({"-d", "p", c.option, c.path, "--version"});
    const auto plan = command.args().GenerateFuncs();
    EXPECT_TRUE(plan.refused);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(command.console.err(), c.err);
  }
}

}  // namespace
