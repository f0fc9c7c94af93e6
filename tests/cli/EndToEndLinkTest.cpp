// The program's link-level tasks on a simulated board: the reset, loading over
// RF and the Belto LS passthrough.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using EndToEndLink = EndToEnd;

// The run was refused as the port is busy, before the board was reset.
void ExpectRefusedAsBusy(const ProgramOutcome& run, SimulatedBoard& board) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Cannot open " + board.device() +
                         ": the device is busy or held by another program\nCould not open port\n");
  EXPECT_EQ(board.record().resets, 0u);
}

TEST_F(EndToEndLink, ResetTogglesTheBoard) {
  const ProgramOutcome run = Mrl({"--reset"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; }));
  EXPECT_TRUE(board().record().downloads.empty());
}

// A second program on the board's port, here a second mrl running its
// terminal there, keeps the run from opening it; the board is not touched.
TEST_F(EndToEndLink, PortHeldByAnotherProgramIsBusy) {
  ProgramRun holder(MrlBinary(), OnBoard({"--term"}));
  ASSERT_TRUE(holder.WaitForOut(kTermStart, std::chrono::milliseconds(10000))) << holder.err();

  const ProgramOutcome run = Mrl({"--reset"});
  ASSERT_FINISHED(run);
  ExpectRefusedAsBusy(run, board());
}

// Another program holds the board's port in the terminal's exclusive mode,
// without the advisory lock that mrl takes as well: the open itself refuses
// any other user, but lets root in, so the run asks the port and refuses it.
TEST_F(EndToEndLink, PortHeldExclusivelyIsBusyForRootToo) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root is let into a port held exclusively";
  const Descriptor holder(::open(board().device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_EQ(::ioctl(holder.fd(), TIOCEXCL), 0) << std::strerror(errno);

  const ProgramOutcome run = RunMrl(OnBoard({"--reset"}));
  ASSERT_FINISHED(run);
  ExpectRefusedAsBusy(run, board());
}

// However a run on the port ended, the next run on it opens it: a run that a
// signal ended gives the port's exclusive mode back as well, which a
// pseudo-terminal would otherwise keep while its other side stays open.
TEST_F(EndToEndLink, PortIsFreeAfterEveryEndOfARun) {
  BoardFaults silent;
  silent.silent = true;
  const struct {
    const char* name;
    std::vector<std::string> words;
    BoardFaults faults;
    int signal;  // sent once the run waits for the board or runs its terminal; 0: none
    int status;
  } kCases[] = {
      {"terminal ended by SIGINT", {"--term"}, {}, SIGINT, 0},
      {"boot monitor wait ended by SIGTERM", {"--gethwid"}, silent, SIGTERM, 128 + SIGTERM},
      {"boot monitor wait ended by SIGHUP", {"--gethwid"}, silent, SIGHUP, 128 + SIGHUP},
      {"a failed run",
       {"--gethwid"},
       [] {
         BoardFaults f;
         f.nack_commands = true;
         return f;
       }(),
       0,
       5},
      {"a run that succeeded", {"--reset"}, {}, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    BoardConfig config;
    config.faults = c.faults;
    StartBoard(config);
    ProgramRun first(MrlBinary(), OnBoard(c.words));
    if (c.signal != 0) {
      ASSERT_TRUE(c.words.front() == "--term"
                      ? first.WaitForOut(kTermStart, std::chrono::milliseconds(10000))
                      : board().WaitUntil([](const BoardRecord& r) { return r.resets == 1; },
                                          std::chrono::milliseconds(10000)))
          << first.err();
      first.Signal(c.signal);
    }
    const ProgramOutcome ended = first.Wait(kRunDeadline);
    ASSERT_FINISHED(ended);
    EXPECT_EQ(ended.status, c.status) << ended.err;
    ASSERT_TRUE(board().AwaitClosedLine());

    const ProgramOutcome next = Mrl({"--reset"});
    ASSERT_FINISHED(next);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(next.err, "");
  }
}

// Each refusal names the device and the reason before the error's message.
TEST_F(EndToEndLink, PortThatDoesNotOpenSaysWhy) {
  const struct {
    std::vector<std::string> words;
    std::string err;  // a pattern
  } kCases[] = {
      {{"--dev", "/dev/null", "--reset"}, "Cannot open /dev/null: not a serial device\n"},
      {{"--dev", dir_.path().string(), "--reset"}, "Cannot open .+: Is a directory\n"},
      // hidapi's own words, which vary with the devices present.
      {{"--hid", "1:1", "--hid_cmd", "7"}, "Cannot open HID device 1:1: .+\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.words[1]);
    const ProgramOutcome run = RunMrl(c.words);
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(std::regex_match(run.err, std::regex(c.err + "Could not open port\n"))) << run.err;
  }
}

// What the RF loader prints before sending the image to the target with the given HWID.
std::string RfOut(const std::string& target_hwid) {
  return kLoaderOut +
         "Power on RF Download Target...\nDownloading to target with HWID: " + target_hwid +
         "\nDownload in progress.\n";
}

// The RF target's HWID (see the simulated board) as the RF loader prints it.
const std::string kRfTarget = "1234000";

Bytes PaddedTo(Bytes bytes, std::size_t len) {
  bytes.resize(len, 0);
  return bytes;
}

TEST_F(EndToEndLink, RfloadPadsAnImgAndSendsItOverRf) {
  const Bytes img = Pattern(8194, 3);
  const ProgramOutcome run = Mrl({"--img", File("image.img", img), "--rfload", "--force"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, RfOut(kRfTarget));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  EXPECT_EQ(record.rf_image, PaddedTo(img, 16384));
  EXPECT_EQ(record.rf_bad_check_bytes, 0u);
}

// Without a HWID given, the xip image is bound to the RF target's HWID.
TEST_F(EndToEndLink, RfloadBindsAnXipToTheTargetsHwid) {
  const Bytes xip = XipContainer();
  const ProgramOutcome run = Mrl({"--xip", File("firmware.xip", xip), "--rfload"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, RfOut(kRfTarget));
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const Bytes img = XipImage(xip, BoardConfig().rf_target_hwid, 64);
  EXPECT_EQ(board().record().rf_image, PaddedTo(img, (img.size() + 8191) / 8192 * 8192));
}

// The passthrough takes the GPIO settings, then the GX2 board behind it gets the image.
TEST_F(EndToEndLink, BeltoPassthroughSetsTheGpiosAndCarriesTheDownload) {
  const Bytes img = Pattern(600, 8);
  const ProgramOutcome run =
      Mrl({"--belto_ls_gx2", "--belto_ls_pt_gpio", "A3=1,B0=0", "--img", File("image.img", img)});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kBootDownloadStart + kLoaderOut + kImgOut);
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  const std::vector<std::pair<std::uint8_t, std::uint8_t>> commands{{1, 0x83}, {1, 0x08}, {2, 0}};
  EXPECT_EQ(record.passthrough_commands, commands);
  EXPECT_TRUE(record.passthrough_active);
  EXPECT_EQ(record.resets, 1u);  // only before the passthrough image
  EXPECT_EQ(Slice(board().eeprom(), 0, img.size()), img);
}

}  // namespace
}  // namespace mrl_test
