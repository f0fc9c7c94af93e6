#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

using mrl_test::CommandLine;

// The option groups in their order, each option with its short name, value,
// default and help text, in the library's layout.
const char* const kExpectedHelp =
    "\n"
    "Download / Terminal Actions:\n"
    "  -i [ --hex ] arg             Load the input hex file\n"
    "  --IS2023 arg                 Load the input Bluetooth firmware file\n"
    "  -x [ --xip ] arg             Load the input xip file\n"
    "  --img arg                    Load the input img file (raw binary)\n"
    "  --hoff arg                   Load the input HOFF file\n"
    "  --tbf arg                    Load the input tbf file\n"
    "  --tcf arg                    Load the input tcf file\n"
    "  --tcf_entry arg              Specific firmware file to select for loading in \n"
    "                               TCF file\n"
    "  --hoff_entry arg             Specific firmware file to select for loading in \n"
    "                               TCF file\n"
    "  --clear                      Clear a specified length of EEPROM contents \n"
    "                               starting from a given offset\n"
    "  --unlock                     Unlock the EEPROM to enable writing to it. Only \n"
    "                               potentially required for hex image loading.\n"
    "  --extract arg                Extract raw data in EEPROM of a given length and\n"
    "                               offset to the given file\n"
    "  -g [ --gethwid ]             Get and print the HWID on the device, if one is \n"
    "                               present\n"
    "  --no_ruvo                    Allows for checking of HWID on firmware images \n"
    "                               that do not use the Ruvo bootloader\n"
    "  -t [ --term ]                Display terminal output\n"
    "  --stamp                      Prepend timestamp to each terminal line\n"
    "  -r [ --reset ]               Reset Quarn board after all other actions \n"
    "                               (except terminal)\n"
    "  --test_size                  Tests if the EEPROM is 256kbit or 512kbit\n"
    "\n"
    "Common Action Modifiers:\n"
    "  -d [ --dev ] arg             Serial (COM) Port Device filename\n"
    "  -b [ --baud ] arg (=115200)  Baud rate for serial (COM) port\n"
    "  -p [ --protocol ] arg (=2)   Protocol Version: 1 = slow, 2 = fast.\n"
    "  --mordell                    Use Fintra/Mordell Vesta Report IDs instead\n"
    "  --hid [=arg(=1155:22422)]    HID Device Identifier as \n"
    "                               VENDOR_ID:PRODUCT_ID(:SERIAL_NUMBER)\n"
    "  --hid_cmd arg                Send command to HID device \n"
    "  --list_hid                   List All HID Devices\n"
    "  --timeout arg (=3000)        Sets the timeout (in ms) for any serial port \n"
    "                               operations to the desired value. 0 means \n"
    "                               infinite.\n"
    "  --reset_timeout arg (=0)     Like --timeout, except for the initial reset of \n"
    "                               qmx only\n"
    "  --force                      Enable overwriting of an existing HWID on a \n"
    "                               board.\n"
    "  --ram_only                   Indicates that the hex image only resides in RAM\n"
    "                               as a transient; disables certain waits and \n"
    "                               checks at the end of download.\n"
    "  --flash                      Sets target as Flash chip (assumes 4096 byte \n"
    "                               Sectors)\n"
    "  --winbond                    Sets target as winbond flash chip\n"
    "  --belto_ls_gx2               Downloads to Belto LS GX2 through Belto LS MX2\n"
    "  --belto_ls_pt_gpio arg       Set GPIO in Belto LS passthrough for things like\n"
    "                               Soft Power (ex: PA3=1,PA1=0)\n"
    "\n"
    "Xip/Img/Extract/Tbf Modifiers:\n"
    "  -c [ --crys_freq ] arg (=2)  Crystal frequency of device: 1 = 12 288 MHz, 2 =\n"
    "                               24 576 MHz\n"
    "  -s [ --sethwid ] arg         Set the HWID on the device when performing a xip\n"
    "                               load\n"
    "  --hwid_file                  Indicates that the sethwid argument is a path to\n"
    "                               a legacy hwids.txt\n"
    "  --offset arg (=0)            Offset address (in bytes) where to begin \n"
    "                               writing/reading the image or clearing the \n"
    "                               EEPROM.\n"
    "  --length arg (=32768)        Length (in bytes) of data to extract or clear \n"
    "                               from EEPROM. Even unsigned 32-bit value.\n"
    "  --rfload                     Load over RF using a transient loader connected \n"
    "                               to a local device\n"
    "\n"
    "Display Help:\n"
    "  -h [ --help ]                Display Help\n"
    "\n"
    "Enable Verbose Output:\n"
    "  -v [ --verbose ]             Enable Verbose Output\n"
    "\n"
    "Print Version Information:\n"
    "  --version                    Print Version Information\n"
    "\n";

TEST(Options, HelpListsTheThreeGroupsBeforeTheBuiltInOnes) {
  CommandLine line({"--help"});
  for (const auto& action : line.args().GenerateFuncs().actions) EXPECT_FALSE(action().failed());
  EXPECT_EQ(line.console.out(), kExpectedHelp);
  EXPECT_EQ(line.console.err(), "");
}

TEST(Options, DefaultsWithoutAnyOption) {
  CommandLine line({});
  const LoaderArgs& loader = line.loader;
  EXPECT_EQ(loader.baud, 115200u);
  EXPECT_EQ(loader.protocol, 2u);
  EXPECT_EQ(loader.crys_freq, 2u);
  EXPECT_EQ(loader.timeout, 3000u);
  EXPECT_EQ(loader.reset_timeout, 0u);
  EXPECT_EQ(loader.offset.value(), 0u);
  EXPECT_EQ(loader.length.value(), 32768u);
  EXPECT_EQ(loader.dev, "");
  EXPECT_EQ(loader.hid, "");
  EXPECT_EQ(loader.input_file, "");
  EXPECT_EQ(loader.extract_file, "");
  EXPECT_EQ(line.values().count("hid"), 0u);
  const auto plan = line.args().GenerateFuncs();
  EXPECT_FALSE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(line.console.err(), "");
}

TEST(Options, HidWithoutAValueNamesTheDefaultBridge) {
  CommandLine bare({"--hid"});
  EXPECT_EQ(bare.loader.hid, "1155:22422");
  CommandLine named({"--hid", "1:2:SN"});
  EXPECT_EQ(named.loader.hid, "1:2:SN");
}

struct MemoryTokenCase {
  const char* option;
  const char* token;
  bool accepted;
  std::uint32_t value;
};

TEST(Options, OffsetAndLengthTokens) {
  const MemoryTokenCase cases[] = {
      {"--length", "65536", true, 65536},  {"--length", "010", true, 8},
      {"--length", "0x8000", true, 32768}, {"--length", "0X10", true, 16},
      {"--length", " +4", true, 4},        {"--length", "65538", false, 0},
      {"--length", "7", false, 0},         {"--length", "0x8001", false, 0},
      {"--length", "12abc", false, 0},     {"--length", "abc", false, 0},
      {"--length", "-2", false, 0},        {"--length", "4294967296", false, 0},
      {"--offset", "0x7FFE", true, 32766}, {"--offset", "65534", true, 65534},
      {"--offset", "3", false, 0},         {"--offset", "65536", false, 0},
      {"--offset", "0x10000", false, 0},   {"--offset", "4294967294", false, 0},
      {"--offset", "-2", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.token);
    CommandLine line({c.option, c.token});
    if (c.accepted) {
      EXPECT_EQ(line.console.err(), "");
      const std::uint32_t value = std::string(c.option) == "--length" ? line.loader.length.value()
                                                                      : line.loader.offset.value();
      EXPECT_EQ(value, c.value);
    } else {
      EXPECT_EQ(line.console.err(), std::string("the argument ('") + c.token + "') for option '" +
                                        c.option + "' is invalid\n");
      EXPECT_TRUE(line.values().empty());
      EXPECT_TRUE(line.args().GenerateFuncs().refused);
    }
  }
}

// A negative token is refused by every unsigned option, in every form it can
// take, instead of wrapping around to a large number.
TEST(Options, UnsignedOptionsRefuseNegativeTokens) {
  struct NegativeCase {
    std::vector<std::string> words;
    std::string option;
    std::string token;
  };
  std::vector<NegativeCase> cases{
      {{"-b", "-1"}, "--baud", "-1"},
      {{"-p-1"}, "--protocol", "-1"},
      {{"-c", "-2"}, "--crys_freq", "-2"},
  };
  for (const char* option : {"--baud", "--protocol", "--timeout", "--reset_timeout", "--crys_freq",
                             "--hid_cmd", "--offset", "--length"}) {
    for (const char* token : {"-1", "-5", "-0", " -2", "-4294967294"}) {
      cases.push_back({{option, token}, option, token});
      cases.push_back({{std::string(option) + "=" + token}, option, token});
    }
  }
  for (const NegativeCase& c : cases) {
    SCOPED_TRACE(c.words.front() + " " + c.words.back());
    CommandLine line(c.words);
    EXPECT_EQ(line.console.err(),
              "the argument ('" + c.token + "') for option '" + c.option + "' is invalid\n");
    EXPECT_TRUE(line.args().GenerateFuncs().refused);
  }
}

// The numbers that are not memory addresses or lengths are decimal, as the
// value type reads them.
TEST(Options, OtherUnsignedTokensKeepTheirForms) {
  const struct {
    std::vector<std::string> words;
    bool accepted;
    std::uint32_t LoaderArgs::*member;
    std::uint32_t value;
  } cases[] = {
      {{"--baud", "9600"}, true, &LoaderArgs::baud, 9600},
      {{"--baud", "+5"}, true, &LoaderArgs::baud, 5},
      {{"--timeout", "4294967295"}, true, &LoaderArgs::timeout, 4294967295u},
      {{"--reset_timeout=0"}, true, &LoaderArgs::reset_timeout, 0},
      {{"-p", "1"}, true, &LoaderArgs::protocol, 1},
      {{"--baud", "0x10"}, false, nullptr, 0},
      {{"--timeout", "4294967296"}, false, nullptr, 0},
      {{"--crys_freq", "1.5"}, false, nullptr, 0},
      {{"--reset_timeout", ""}, false, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.front() + " " + c.words.back());
    CommandLine line(c.words);
    if (c.accepted) {
      EXPECT_EQ(line.console.err(), "");
      EXPECT_EQ(line.loader.*c.member, c.value);
    } else {
      EXPECT_NE(line.console.err().find("is invalid\n"), std::string::npos) << line.console.err();
      EXPECT_TRUE(line.values().empty());
    }
  }
  CommandLine largest({"--hid_cmd", "65535"});
  EXPECT_EQ(largest.loader.hid_cmd, 65535u);
  CommandLine beyond({"--hid_cmd", "65536"});
  EXPECT_EQ(beyond.console.err(), "the argument ('65536') for option '--hid_cmd' is invalid\n");
}

TEST(Options, MemoryOptionGivenTwiceIsAParseError) {
  CommandLine line({"--length", "2", "--length", "4"});
  EXPECT_EQ(line.console.err(), "option '--length' cannot be specified more than once\n");
  EXPECT_TRUE(line.values().empty());
}

TEST(Options, ExclusiveOptionsAreReportedInTheirListOrder) {
  const struct {
    std::vector<std::string> words;
    const char* report;
  } cases[] = {
      {{"--xip", "a", "--hex", "b"}, "hex\nxip\n"},
      {{"--tbf", "a", "--IS2023", "b"}, "IS2023\ntbf\n"},
      {{"--extract", "a", "--hex", "b"}, "hex\nextract\n"},
      {{"--help", "--test_size", "--clear"}, "clear\ntest_size\nhelp\n"},
  };
  for (const auto& c : cases) {
    CommandLine line(c.words);
    const auto plan = line.args().GenerateFuncs();
    EXPECT_TRUE(plan.refused);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(line.console.err(),
              std::string("The following provided flags are mutually exclusive:\n") + c.report);
  }
}

TEST(Options, BadProtocolAndCrystalAreBothReportedAndNothingRuns) {
  CommandLine line({"--protocol", "3", "--crys_freq", "0", "--dev", "x", "--gethwid"});
  const auto plan = line.args().GenerateFuncs();
  EXPECT_TRUE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(line.console.err(),
            "Invalid protocol version provided.\nInvalid crystal frequency provided.\n"
            "Error processing arguments\n");
}

TEST(Options, EntryOptionsAreNotExclusive) {
  CommandLine line({"--tcf_entry", "a", "--hoff_entry", "b"});
  const auto plan = line.args().GenerateFuncs();
  EXPECT_FALSE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(line.console.err(), "");
}

}  // namespace
