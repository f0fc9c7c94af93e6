// Command lines that are refused end with status 1 and their reasons on
// standard error, and nothing reaches the board; those that only ask for help,
// the version or nothing at all end with 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "EndToEnd.h"
#include "file/TCF.h"

namespace mrl_test {
namespace {

constexpr int kRefused = 1;

struct RefusalCase {
  std::vector<std::string> words;  // the board's port goes in front
  // The whole of standard error: one of these, as a container's labels may come in any order.
  std::vector<std::string> errs;
};

std::string Invalid(const std::string& token, const std::string& option) {
  return "the argument ('" + token + "') for option '" + option + "' is invalid\n";
}

class EndToEndRefusal : public EndToEnd {
 protected:
  // A board that runs its own program keeps every byte the host sends it.
  EndToEndRefusal() {
    BoardConfig config = WithHwid();
    config.initial_program = Program::kUserProgram;
    StartBoard(config);
  }

  std::string Tcf(const std::string& name, std::vector<std::string> labels) {
    TCF::FirmwareMap entries;
    for (const std::string& label : labels) {
      entries.emplace(label, TCF::FirmwareFile(qmx::File::Img(qmx::File::Bytes{1, 2})));
    }
    std::ostringstream text;
    TCF::Table(std::move(entries)).ToStream(text);
    return dir_.Write(name, text.str());
  }

  std::string Hoff(const std::string& name, const std::vector<std::string>& labels) {
    std::string text = R"({"version": 1, "entries": [)";
    for (const std::string& label : labels) {
      if (&label != &labels.front()) text += ",";
      text += R"({"name": ")" + label + R"(", "target": "eeprom", "sections": []})";
    }
    return dir_.Write(name, text + "]}");
  }

  void ExpectRefused(const std::vector<RefusalCase>& cases) {
    const Bytes eeprom = board().eeprom();
    for (const RefusalCase& c : cases) {
      std::string line;
      for (const std::string& word : c.words) line += word + " ";
      SCOPED_TRACE(line);
      const ProgramOutcome run = Mrl(c.words);
      ASSERT_FINISHED(run);
      EXPECT_EQ(run.status, kRefused);
      EXPECT_EQ(run.out, "");
      EXPECT_NE(std::find(c.errs.begin(), c.errs.end(), run.err), c.errs.end()) << run.err;
      ExpectBoardUntouched(board().record());
      EXPECT_EQ(board().eeprom(), eeprom);
    }
  }
};

TEST_F(EndToEndRefusal, CommandLinesThatDoNotParse) {
  ExpectRefused({
      {{"--gethwid", "--no_such_option"}, {"unrecognised option '--no_such_option'\n"}},
      {{"--gethwid", "--hex"}, {"the required argument for option '--hex' is missing\n"}},
      {{"--gethwid", "--baud", "fast"}, {Invalid("fast", "--baud")}},
      {{"--img", "a.img", "--offset", "0x10000"}, {Invalid("0x10000", "--offset")}},
      {{"--gethwid", "--baud", "1", "--baud", "2"},
       {"option '--baud' cannot be specified more than once\n"}},
      {{"--gethwid", "stray"},
       {"too many positional options have been specified on the command line\n"}},
  });
}

// Each unsigned option, in the separate and the joined form.
TEST_F(EndToEndRefusal, NegativeNumbers) {
  ExpectRefused({
      {{"--gethwid", "--baud", "-1"}, {Invalid("-1", "--baud")}},
      {{"--gethwid", "--protocol", "-1"}, {Invalid("-1", "--protocol")}},
      {{"--gethwid", "--timeout", "-5"}, {Invalid("-5", "--timeout")}},
      {{"--gethwid", "--timeout=-1"}, {Invalid("-1", "--timeout")}},
      {{"--gethwid", "--reset_timeout=-1"}, {Invalid("-1", "--reset_timeout")}},
      {{"--gethwid", "--reset_timeout", "-1"}, {Invalid("-1", "--reset_timeout")}},
      {{"--gethwid", "--crys_freq", "-2"}, {Invalid("-2", "--crys_freq")}},
      {{"--hid", "--hid_cmd", "-1"}, {Invalid("-1", "--hid_cmd")}},
      {{"--clear", "--offset", "-2"}, {Invalid("-2", "--offset")}},
      {{"--clear", "--length=-2"}, {Invalid("-2", "--length")}},
  });
}

TEST_F(EndToEndRefusal, ExclusiveOptionsBoundsAndContradictions) {
  const std::string processing = "Error processing arguments\n";
  ExpectRefused({
      {{"--hex", "a.hex", "--xip", "b.xip"},
       {"The following provided flags are mutually exclusive:\nhex\nxip\n"}},
      {{"--clear", "--help"},
       {"The following provided flags are mutually exclusive:\nclear\nhelp\n"}},
      {{"--protocol", "3", "--crys_freq", "0", "--gethwid"},
       {"Invalid protocol version provided.\nInvalid crystal frequency provided.\n" + processing}},
      {{"--crys_freq", "3", "--gethwid"}, {"Invalid crystal frequency provided.\n" + processing}},
      {{"--img", "a.img", "--ram_only", "--force"},
       {"Only hex files can reside solely in RAM.\n" + processing}},
      {{"--hex", "a.hex", "--ram_only", "--force"},
       {"Force loading and RAM-only are mutually exclusive.\n" + processing}},
      {{"--hex", "a.hex", "--rfload"},
       {"RF loading does not currently support non-xip files.\n" + processing}},
      {{"--xip", "a.xip", "--offset", "2"},
       {"None of hex, tbf, xip, or IS2023 files can be loaded at arbitrary offsets.\n" +
        processing}},
      {{"--img", "a.img", "--offset", "2", "--rfload"},
       {"RF loading does not currently support loading at arbitrary offsets.\n" + processing}},
      {{"--length", "4096", "--gethwid"},
       {"Length argument only applies to extract and clear functions.\n" + processing}},
      {{"--hwid_file", "--gethwid"},
       {"hwid_file argument is only valid if sethwid is also specified.\n" + processing}},
      {{"--hid", "--gethwid"},
       {"Must specify either a serial port or HID device, not both.\n" + processing}},
      {{"--mordell", "--gethwid"},
       {"Must specify a HID device to use mordell flag.\n" + processing}},
      {{"--hid_cmd", "1"}, {"Must specify an HID device to use hid_cmd.\n" + processing}},
      // A refusal is not overridden by the version.
      {{"--version", "--ram_only", "--force"},
       {"Only hex files can reside solely in RAM.\n" + processing}},
  });
}

TEST_F(EndToEndRefusal, EntriesThatCannotBeSelected) {
  const std::string garbage = dir_.Write("garbage", std::string("not a container\n"));
  const std::string tcf = Tcf("two.tcf", {"app", "boot"});
  const std::string tcf_several =
      "Input TCF file contains multiple firmware files, but tcf_entry was not supplied to select "
      "one.\nAvailable entries are:\n";
  const std::string hoff = Hoff("two.hoff", {"a", "b"});
  ExpectRefused({
      {{"--tcf", dir_ / "missing.tcf"}, {"Cannot open file\n"}},
      {{"--tcf", garbage}, {"Invalid file format\n"}},
      {{"--tcf", Tcf("empty.tcf", {})}, {"Input TCF file does not contain any firmware files.\n"}},
      {{"--tcf", tcf}, {tcf_several + "app\nboot\n", tcf_several + "boot\napp\n"}},
      {{"--tcf", Tcf("one.tcf", {"app"}), "--tcf_entry", "APP"},
       {"No firmware with label \"APP\" found within the input TCF file.\n"
        "Available entries are:\napp\n"}},
      {{"--hoff", garbage}, {"Error parsing HOFF file\n"}},
      {{"--hoff", Hoff("empty.hoff", {})}, {"HOFF file does not contain any firmware files.\n"}},
      {{"--hoff", hoff},
       {"HOFF file contains multiple firmware files, but hoff_entry was not supplied to select "
        "one.\nAvailable HOFF entries are:\na\nb\n"}},
      {{"--hoff", hoff, "--hoff_entry", "c"},
       {"No HOFF entry with label \"c\" found within the input HOFF file.\n"
        "Available HOFF entries are:\na\nb\n"}},
      // The version does not make up for an entry that cannot be selected.
      {{"--tcf", dir_ / "missing.tcf", "--version"}, {"Cannot open file\n"}},
  });
}

// Without a port, so that nothing is even opened.
TEST_F(EndToEndRefusal, HelpVersionAndNothingToDoEndWithZero) {
  const struct {
    std::vector<std::string> words;
    std::string out_start;
  } cases[] = {
      {{"--help"}, "\nDownload / Terminal Actions:\n"},
      {{"--version"}, "v2.0-205-g1737eae\n"},
      {{"--version", "--gethwid", "--hex", "a.hex", "--xip", "b.xip"}, "v2.0-205-g1737eae\n"},
      {{}, ""},
      {{"--tcf_entry", "a", "--hoff_entry", "b", "--baud", "9600"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out_start);
    const ProgramOutcome run = RunMrl(c.words);
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 0);
    if (c.out_start.empty()) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_EQ(run.out.compare(0, c.out_start.size(), c.out_start), 0) << run.out;
    }
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace mrl_test
