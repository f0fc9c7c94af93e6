#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "PlanText.h"

namespace {

using mrl_test::CommandLine;
using mrl_test::PlanText;

struct PlanCase {
  std::vector<std::string> words;
  std::vector<std::string> plan;  // each action's name and, in brackets, the flags it captured
};

TEST(ActionPlan, OrderAndCapturedFlagsOfEachCommandLine) {
  const PlanCase cases[] = {
      {{}, {}},
      {{"-d", "p", "-x", "f", "-s", "HWID"},
       {"CheckPortGiven", "OpenSerialPort", "ParseHwidArgument", "AnnounceSuppliedHwid",
        "LoadXipFile", "LoadHelperAndReadHwid", "GuardExistingHwid", "ConvertXipToImg[sethwid]",
        "TestEepromReach", "DownloadImgImage"}},
      // The file is read before the board is asked anything, also when the
      // board's HWID is the one it is bound to.
      {{"-d", "p", "-x", "f"},
       {"CheckPortGiven", "OpenSerialPort", "LoadXipFile", "LoadHelperAndReadHwid",
        "RequireExistingHwid", "ConvertXipToImg", "TestEepromReach", "DownloadImgImage"}},
      {{"-d", "p", "-s", "HWID"},
       {"CheckPortGiven", "OpenSerialPort", "ParseHwidArgument", "AnnounceSuppliedHwid",
        "GuardHwidSlot", "LoadHelperAndReadHwid", "GuardExistingHwid", "TestEepromReach",
        "AddHwidToTbf", "DownloadTbfTable"}},
      {{"-d", "p", "-s", "HWID", "--hwid_file", "-i", "f"},
       {"CheckPortGiven", "OpenSerialPort", "ReadHwidFile", "LoadHexFile", "GuardHwidSlot",
        "LoadHelperAndReadHwid", "GuardExistingHwid", "TestEepromReach", "DownloadHexImage",
        "AddHwidToTbf", "DownloadTbfTable", "WriteBackHwidFile"}},
      {{"-d", "p", "-i", "f"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHexFile", "LoadHelperAndReadHwid",
        "GuardExistingHwid", "DownloadHexImage"}},
      {{"-d", "p", "-i", "f", "--ram_only"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHexFile", "DownloadHexImage[ram_only]"}},
      {{"-d", "p", "-i", "f", "--force"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHexFile", "DownloadHexImage"}},
      {{"-d", "p", "-i", "f", "--force", "--unlock"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHexFile", "LoadHelperAndReadHwid",
        "DownloadHexImage"}},
      {{"-d", "p", "--unlock"}, {"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid"}},
      {{"-d", "p", "-g", "--winbond", "--no_ruvo"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid[no_ruvo,winbond]",
        "PrintHwid[winbond]"}},
      {{"-d", "p", "--clear"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid", "GuardExistingHwid",
        "TestEepromReach", "ClearEeprom"}},
      {{"-d", "p", "--clear", "--flash"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHelperAndReadHwid[flash]", "GuardExistingHwid",
        "EraseFlashImage"}},
      // A clear with sethwid starts at 0 (a HWID goes into a TBF table, which no offset
      // takes); this one ends just before the HWID.
      {{"-d", "p", "--clear", "--length", "110", "-s", "HWID"},
       {"CheckPortGiven", "OpenSerialPort", "ParseHwidArgument", "AnnounceSuppliedHwid",
        "GuardHwidSlot", "LoadHelperAndReadHwid", "GuardExistingHwid", "TestEepromReach",
        "AddHwidToTbf", "DownloadTbfTable", "ClearEeprom"}},
      {{"-d", "p", "--extract", "f", "--offset", "0xFF00", "--length", "0x100"},
       {"CheckPortGiven", "OpenSerialPort", "PrepareExtractTarget", "LoadHelperAndReadHwid",
        "TestEepromReach", "ExtractEeprom"}},
      // The flash has no size to ask for.
      {{"-d", "p", "--extract", "f", "--offset", "0xFF00", "--length", "0x100", "--flash"},
       {"CheckPortGiven", "OpenSerialPort", "PrepareExtractTarget", "LoadHelperAndReadHwid[flash]",
        "ExtractEeprom[flash]"}},
      {{"-d", "p", "--extract", "f", "-s", "HWID"},
       {"CheckPortGiven", "OpenSerialPort", "ParseHwidArgument", "AnnounceSuppliedHwid",
        "GuardHwidSlot", "PrepareExtractTarget", "LoadHelperAndReadHwid", "GuardExistingHwid",
        "TestEepromReach", "AddHwidToTbf", "DownloadTbfTable", "ExtractEeprom"}},
      // An image for the flash asks nothing of the EEPROM.
      {{"-d", "p", "--img", "f", "--flash"},
       {"CheckPortGiven", "OpenSerialPort", "LoadImgFile", "LoadHelperAndReadHwid[flash]",
        "GuardExistingHwid", "EraseFlashImage", "DownloadImgImage[flash]"}},
      {{"-d", "p", "--tbf", "f", "-s", "HWID", "--flash"},
       {"CheckPortGiven", "OpenSerialPort", "ParseHwidArgument", "AnnounceSuppliedHwid",
        "LoadTbfFile", "GuardHwidSlot", "LoadHelperAndReadHwid[flash]", "GuardExistingHwid",
        "TestEepromReach", "EraseFlashImage", "AddHwidToTbf", "DownloadTbfTable[flash]"}},
      {{"-d", "p", "--img", "f", "--offset", "2"},
       {"CheckPortGiven", "OpenSerialPort", "LoadImgFile", "CheckImgOffset",
        "LoadHelperAndReadHwid", "GuardExistingHwid", "TestEepromReach", "DownloadImgImage"}},
      {{"-d", "p", "--img", "f", "--rfload", "--force"},
       {"CheckPortGiven", "OpenSerialPort", "LoadImgFile", "LoadHelperAndReadHwid[rfload]",
        "PadImageForRf", "DownloadImgImage[rfload]"}},
      {{"-d", "p", "--IS2023", "f", "-r", "-t", "--stamp"},
       {"CheckPortGiven", "OpenSerialPort", "LoadIs2023File", "LoadHelperAndReadHwid",
        "DownloadIs2023Image", "ResetBoard", "RunStampedTerminal"}},
      {{"-d", "p", "--tbf", "f", "--belto_ls_gx2", "--belto_ls_pt_gpio", "A3=1", "-r", "-t"},
       {"ParsePassthroughGpio", "CheckPortGiven", "OpenSerialPort", "LoadTbfFile",
        "StartBeltoLsGx2Passthrough", "LoadHelperAndReadHwid[belto_ls_gx2]", "GuardExistingHwid",
        "TestEepromReach", "DownloadTbfTable[belto_ls_gx2]", "ResetBoard[belto_ls_gx2]",
        "RunTerminal"}},
      {{"--belto_ls_pt_gpio", "A3=1", "--list_hid"}, {"ParsePassthroughGpio", "ListHidDevices"}},
      {{"--hid", "--hid_cmd", "321", "--mordell"}, {"OpenHidPort", "SendHidCommand"}},
      {{"--belto_ls_gx2"}, {"CheckPortGiven", "StartBeltoLsGx2Passthrough"}},
      {{"-d", "p", "-i", "f", "--flash", "--belto_ls_gx2", "--ram_only"},
       {"CheckPortGiven", "OpenSerialPort", "LoadHexFile", "StartBeltoLsGx2Passthrough",
        "EraseFlashImage", "DownloadHexImage[belto_ls_gx2,ram_only]"}},
      {{"-d", "p", "--length", "32768", "-t"}, {"CheckPortGiven", "OpenSerialPort", "RunTerminal"}},
  };
  for (const PlanCase& c : cases) {
    std::string line;
    for (const std::string& word : c.words) line += word + " ";
    SCOPED_TRACE(line);
    CommandLine command(c.words);
    const LoaderArgs::Plan plan = command.loader.PlanActions(command.values());
    EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
    EXPECT_EQ(PlanText(plan.actions), c.plan);
    EXPECT_EQ(command.console.err(), "");
  }
}

TEST(ActionPlan, RefusalsInOrderWithTheirMessages) {
  const char* const kFlashWhole =
      "Clearing the flash erases it whole; offset and length apply only to the EEPROM.\n";
  const char* const kPastEeprom =
      "Offset plus length passes the end of the EEPROM (65536 bytes).\n";
  const char* const kClearOverHwid =
      "The clear covers the HWID (EEPROM bytes 110 to 117) that --sethwid programs in this run.\n";
  const struct {
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {{"-d", "p", "--img", "f", "--ram_only", "--force"},
       "Only hex files can reside solely in RAM.\n"},
      {{"-d", "p", "-i", "f", "--ram_only", "--force"},
       "Force loading and RAM-only are mutually exclusive.\n"},
      {{"-d", "p", "-i", "f", "--rfload"},
       "RF loading does not currently support non-xip files.\n"},
      {{"-d", "p", "-x", "f", "--offset", "2"},
       "None of hex, tbf, xip, or IS2023 files can be loaded at arbitrary offsets.\n"},
      {{"-d", "p", "-s", "HWID", "--offset", "2"},
       "None of hex, tbf, xip, or IS2023 files can be loaded at arbitrary offsets.\n"},
      {{"-d", "p", "--img", "f", "--offset", "2", "--rfload"},
       "RF loading does not currently support loading at arbitrary offsets.\n"},
      {{"-d", "p", "--length", "4096", "-g"},
       "Length argument only applies to extract and clear functions.\n"},
      {{"-d", "p", "--hwid_file", "-g"},
       "hwid_file argument is only valid if sethwid is also specified.\n"},
      {{"-d", "p", "--hid", "-g"}, "Must specify either a serial port or HID device, not both.\n"},
      {{"-d", "p", "--mordell", "-g"}, "Must specify a HID device to use mordell flag.\n"},
      {{"-d", "p", "--hid_cmd", "1"}, "Must specify an HID device to use hid_cmd.\n"},
      // A range of its own, even the default one written out.
      {{"-d", "p", "--clear", "--flash", "--offset", "0x1000"}, kFlashWhole},
      {{"-d", "p", "--clear", "--flash", "--length", "64"}, kFlashWhole},
      {{"-d", "p", "--clear", "--flash", "--offset", "0", "-s", "HWID"}, kFlashWhole},
      {{"-d", "p", "--clear", "--offset", "0xFF00", "--length", "0x102"}, kPastEeprom},
      {{"-d", "p", "--extract", "f", "--offset", "0xFFFE", "--length", "4"}, kPastEeprom},
      {{"-d", "p", "--extract", "f", "--offset", "2", "--length", "0x10000"}, kPastEeprom},
      {{"-d", "p", "--clear", "-s", "HWID"}, kClearOverHwid},
      {{"-d", "p", "--clear", "--length", "112", "-s", "HWID"}, kClearOverHwid},
      {{"-d", "p", "--clear", "--flash", "-s", "HWID"},
       "Clearing the flash erases the HWID that --sethwid programs in this run.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    CommandLine command(c.words);
    const LoaderArgs::Plan plan = command.loader.PlanActions(command.values());
    EXPECT_EQ(plan.verdict, qmx::Verdict::kRefused);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(command.console.err(), c.message);
  }
}

TEST(ActionPlan, ARefusalAppendsNothingAndIsReportedByTheFramework) {
  CommandLine command({"-d", "p", "--ram_only", "--force"});
  const auto plan = command.args().GenerateFuncs();
  EXPECT_TRUE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(command.console.err(),
            "Only hex files can reside solely in RAM.\nError processing arguments\n");
}

TEST(ActionPlan, VersionWinsOverExclusiveOptionsButNotOverARefusal) {
  CommandLine exclusive({"--version", "--img", "a", "--xip", "b"});
  const auto version = exclusive.args().GenerateFuncs();
  EXPECT_FALSE(version.refused);
  ASSERT_EQ(version.actions.size(), 1u);
  EXPECT_FALSE(version.actions[0]().failed());
  EXPECT_EQ(exclusive.console.out(), "v2.0-205-g1737eae\n");
  EXPECT_EQ(exclusive.console.err(), "");

  CommandLine refused({"--version", "--ram_only", "--img", "a", "--xip", "b"});
  const auto plan = refused.args().GenerateFuncs();
  EXPECT_TRUE(plan.refused);
  EXPECT_TRUE(plan.actions.empty());
  EXPECT_EQ(refused.console.err(),
            "Only hex files can reside solely in RAM.\nError processing arguments\n");
}

TEST(ActionPlan, StampWithoutTermWarnsAndAddsNoTerminal) {
  CommandLine command({"-d", "p", "--stamp", "-r"});
  const LoaderArgs::Plan plan = command.loader.PlanActions(command.values());
  EXPECT_EQ(plan.verdict, qmx::Verdict::kAccepted);
  EXPECT_EQ(PlanText(plan.actions),
            (std::vector<std::string>{"CheckPortGiven", "OpenSerialPort", "ResetBoard"}));
  EXPECT_EQ(command.console.err(),
            "stamp flag is only available when term flag is also specified.\n");
}

}  // namespace
