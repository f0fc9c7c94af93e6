// A HWID supply as a production line uses it: many stations at once, a
// station whose board never answers, an operator who edits the file during a
// run, files with permissions, access lists and attributes of their own, and
// runs that fail before or after their HWID went out.
#include <acl/libacl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "EndToEnd.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

// Far beyond the time a run takes to reach any point, also on a busy machine.
constexpr milliseconds kPrompt{10000};
// The unprivileged user, and its group, that runs the program where the test
// runs as root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

const std::string kCannotWrite = "Unable to open HWID text file for writing!\nCannot open file\n";

// The supply's lines: twenty HWIDs.
std::vector<std::string> SupplyLines() {
  std::vector<std::string> lines;
  const std::string alphabet = "0123456789ABCDEFGHJKLMNPQRTUVWXY";
  for (std::size_t i = 0; i < 20; ++i) lines.push_back(std::string(12, alphabet[i + 1]));
  return lines;
}
const std::vector<std::string> kLines = SupplyLines();

// The lines from the first-th to the one before end, each with its line feed.
std::string Lines(std::size_t first, std::size_t end = kLines.size()) {
  std::string text;
  for (std::size_t i = first; i < end; ++i) text += kLines[i] + "\n";
  return text;
}

HWID::Raw Hwid(const std::string& text) {
  return HWID::base32ToRaw(text.c_str());
}

// The line that says which HWID the board of a failed run may hold.
std::string TakenOffLine(const std::string& hwid) {
  return "The board may now hold HWID " + HexForm(Hwid(hwid)) + Base32Form(Hwid(hwid)) +
         ", so it was taken off the HWID text file.\n";
}

// The lines that say which HWID never reached the board but is no longer on
// the supply.
std::string NotPutBackLines(const std::string& hwid) {
  return "Unable to open HWID text file for writing!\nHWID " + HexForm(Hwid(hwid)) +
         Base32Form(Hwid(hwid)) +
         " did not reach the board, but could not be put back on the HWID text file.\n";
}

// Whether holds() comes true within a prompt's time, looked at every few
// milliseconds.
bool Eventually(const std::function<bool()>& holds) {
  const auto deadline = std::chrono::steady_clock::now() + kPrompt;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

class EndToEndHwidSupplyShared : public EndToEnd {
 protected:
  std::string Supply(const std::string& contents = Lines(0)) {
    return dir_.Write("hwids.txt", contents);
  }
  // The words of a run that programs the supply's first HWID alone.
  static std::vector<std::string> Words(const std::string& device, const std::string& supply) {
    return {"--dev", device, "--sethwid", supply, "--hwid_file", "--timeout", "0"};
  }
  std::unique_ptr<ProgramRun> Start(SimulatedBoard& board, const std::string& supply) {
    return std::make_unique<ProgramRun>(MrlBinary(), Words(board.device(), supply));
  }
  Bytes Programmed() { return Slice(board().eeprom(), kHwidAt, 8); }
  // Runs mrl on the board with words as user and group: through setpriv
  // (for a test run by root), which gives the user the board's port, or as
  // Mrl where that is the test's own user.
  ProgramOutcome MrlAs(uid_t user, gid_t group, const std::vector<std::string>& words) {
    if (user == ::geteuid()) return Mrl(words);
    EXPECT_EQ(::chown(board().device().c_str(), user, group), 0) << std::strerror(errno);
    std::vector<std::string> setpriv{"--reuid=" + std::to_string(user),
                                     "--regid=" + std::to_string(group), "--clear-groups",
                                     MrlBinary()};
    const std::vector<std::string> on_board = OnBoard(words);
    setpriv.insert(setpriv.end(), on_board.begin(), on_board.end());
    const ProgramOutcome outcome = RunProgram("/usr/bin/setpriv", setpriv, kRunDeadline);
    static_cast<void>(board().AwaitClosedLine());
    return outcome;
  }
};

// ---- Stations at once -------------------------------------------------------------

TEST_F(EndToEndHwidSupplyShared, SixteenStationsAtOnceProgramSixteenHwids) {
  constexpr std::size_t kStations = 16;
  const std::string supply = Supply();
  std::vector<std::unique_ptr<SimulatedBoard>> boards;
  std::vector<std::unique_ptr<ProgramRun>> runs;
  for (std::size_t i = 0; i < kStations; ++i) {
    boards.push_back(std::make_unique<SimulatedBoard>());
    runs.push_back(Start(*boards.back(), supply));
  }
  std::set<Bytes> programmed;
  for (std::size_t i = 0; i < kStations; ++i) {
    SCOPED_TRACE(i);
    const ProgramOutcome outcome = runs[i]->Wait(kRunDeadline);
    ASSERT_FINISHED(outcome);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    programmed.insert(Slice(boards[i]->eeprom(), kHwidAt, 8));
  }
  std::set<Bytes> first_lines;
  for (std::size_t i = 0; i < kStations; ++i) first_lines.insert(HwidBytes(Hwid(kLines[i])));
  EXPECT_EQ(programmed, first_lines);
  EXPECT_EQ(TempDir::Read(supply), Lines(kStations));
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
}

// A station whose board waits for its boot monitor, or whose loader stops
// after the station took its HWID, keeps no other station waiting; ended by
// SIGTERM, it leaves the HWID it took offered first again.
TEST_F(EndToEndHwidSupplyShared, StuckStationKeepsNoOtherWaiting) {
  const struct {
    const char* name;
    BoardFaults faults;
    bool took;  // whether the stuck station took a HWID before it stopped
  } cases[] = {
      {"board that never answers",
       [] {
         BoardFaults f;
         f.silent = true;
         return f;
       }(),
       false},
      {"loader that stops after the HWID was taken",
       [] {
         BoardFaults f;
         f.held_after = 1;
         return f;
       }(),
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string supply = dir.Write("hwids.txt", Lines(0));
    BoardConfig stuck_config;
    stuck_config.faults = c.faults;
    SimulatedBoard stuck_board(stuck_config);
    const auto stuck = Start(stuck_board, supply);
    if (c.took) {
      ASSERT_TRUE(Eventually([&] { return TempDir::Read(supply) == Lines(1); }))
          << "the stuck station takes its HWID";
    } else {
      ASSERT_TRUE(
          stuck_board.WaitUntil([](const BoardRecord& r) { return r.resets > 0; }, kPrompt));
    }

    SimulatedBoard board;
    const ProgramOutcome second =
        RunProgram(MrlBinary(), Words(board.device(), supply), kRunDeadline);

    ASSERT_FINISHED(second);
    EXPECT_EQ(second.status, 0) << second.err;
    const std::size_t second_line = c.took ? 1 : 0;
    EXPECT_EQ(second.out, kLoaderOut + Announcement(Hwid(kLines[second_line])) + TbfOut(1, false))
        << "as if alone";
    EXPECT_EQ(Slice(board.eeprom(), kHwidAt, 8), HwidBytes(Hwid(kLines[second_line])));

    stuck->Signal(SIGTERM);
    const ProgramOutcome first = stuck->Wait(kRunDeadline);
    ASSERT_FINISHED(first);
    EXPECT_EQ(first.status, 128 + SIGTERM);
    EXPECT_EQ(TempDir::Read(supply), c.took ? kLines[0] + "\n" + Lines(2) : Lines(1));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"hwids.txt"});
  }
}

// ---- The operator edits the supply during a run ------------------------------------

TEST_F(EndToEndHwidSupplyShared, EditsDuringARunAreKept) {
  const std::string added = "AAAAAAAAAAAA\nBBBBBBBBBBBB\n";
  const struct {
    const char* name;
    std::function<void(const std::string&)> edit;
    std::string programmed;
    std::string left;
  } cases[] = {
      {"an editor's save: a new file renamed over it, two lines added",
       [&](const std::string& supply) {
         std::ofstream(supply + "~", std::ios::binary) << Lines(0, 3) << added;
         std::filesystem::rename(supply + "~", supply);
       },
       kLines[0], Lines(1, 3) + added},
      {"an edit in place that puts another line first",
       [&](const std::string& supply) {
         std::ofstream(supply, std::ios::binary | std::ios::trunc) << "BBBBBBBBBBBB\n"
                                                                   << Lines(0, 3);
       },
       "BBBBBBBBBBBB", Lines(0, 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartBoard();
    const std::string supply = Supply(Lines(0, 3));
    board().HoldLoader(true);
    const auto run = Start(board(), supply);
    ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.loader_held; }, kPrompt));
    c.edit(supply);
    board().HoldLoader(false);

    const ProgramOutcome outcome = run->Wait(kRunDeadline);

    ASSERT_FINISHED(outcome);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(Programmed(), HwidBytes(Hwid(c.programmed)));
    EXPECT_EQ(outcome.out, kLoaderOut + Announcement(Hwid(c.programmed)) + TbfOut(1, false));
    EXPECT_EQ(TempDir::Read(supply), c.left);
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"hwids.txt"});
  }
}

// ---- Files of the user's ----------------------------------------------------------------

// A supply that an unprivileged user may not write, in a folder of that
// user's, or may write but could only replace by a file of its own: refused
// before the board is touched, the supply as it was.
TEST_F(EndToEndHwidSupplyShared, SupplyTheUserMayNotWriteIsRefusedBeforeTheBoard) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs the program as another user, which takes root";
  const struct {
    const char* name;
    uid_t owner;
    gid_t group;
    mode_t mode;
  } cases[] = {{"read-only", kNobody, kNoGroup, 0444},
               {"another user's", 0, 0, 0644},
               {"another user's that its group may write", 0, kNoGroup, 0664}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartBoard();
    TempDir dir;
    ASSERT_EQ(::chown(dir.path().c_str(), kNobody, kNoGroup), 0);
    const std::string supply = dir.Write("hwids.txt", Lines(0));
    ASSERT_EQ(::chown(supply.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(::chmod(supply.c_str(), c.mode), 0);

    const ProgramOutcome run =
        MrlAs(kNobody, kNoGroup, {"--sethwid", supply, "--hwid_file", "--timeout", "0"});

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kCannotWrite);
    ExpectBoardUntouched(board().record());
    EXPECT_EQ(TempDir::Read(supply), Lines(0));
    struct stat kept {};
    ASSERT_EQ(::stat(supply.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_uid, c.owner);
    EXPECT_EQ(kept.st_gid, c.group);
    EXPECT_EQ(kept.st_mode & 07777, c.mode);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"hwids.txt"});
  }
}

// The set-user-id, set-group-id and sticky bits of a supply and of an extract
// target stay with their other permission bits, for root and for a user who
// owns the files.
TEST_F(EndToEndHwidSupplyShared, ReplacedFilesKeepTheirSetIdAndStickyBits) {
  struct User {
    const char* name;
    uid_t uid;
    gid_t gid;
  };
  std::vector<User> users{{"the test's user", ::geteuid(), ::getegid()}};
  if (::geteuid() == 0) users.push_back({"a user who owns the files", kNobody, kNoGroup});
  for (const User& user : users) {
    for (const mode_t mode : {02664, 04644, 01644}) {
      SCOPED_TRACE(testing::Message() << user.name << ", mode " << std::oct << mode);
      StartBoard();
      TempDir dir;
      ASSERT_EQ(::chown(dir.path().c_str(), user.uid, user.gid), 0);
      const std::string supply = dir.Write("hwids.txt", Lines(0));
      const std::string dump = dir.Write("dump.bin", Bytes(16, 0));
      for (const std::string& file : {supply, dump}) {
        ASSERT_EQ(::chown(file.c_str(), user.uid, user.gid), 0);
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
      }

      const ProgramOutcome run =
          MrlAs(user.uid, user.gid,
                {"--sethwid", supply, "--hwid_file", "--extract", dump, "--length", "16"});

      ASSERT_FINISHED(run);
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(TempDir::Read(supply), Lines(1));
      const Bytes read = Slice(board().eeprom(), 0, 16);
      EXPECT_EQ(TempDir::Read(dump), std::string(read.begin(), read.end()));
      for (const std::string& file : {supply, dump}) {
        SCOPED_TRACE(file);
        struct stat kept {};
        ASSERT_EQ(::stat(file.c_str(), &kept), 0);
        EXPECT_EQ(kept.st_mode & 07777, mode) << std::oct << (kept.st_mode & 07777);
        EXPECT_EQ(kept.st_uid, user.uid);
        EXPECT_EQ(kept.st_gid, user.gid);
      }
      EXPECT_EQ(dir.Names(), (std::vector<std::string>{"dump.bin", "hwids.txt"}));
    }
  }
}

// The access list and the extended attributes of a file the program gives
// new contents to; empty when the file system keeps none.
struct Access {
  std::string acl;
  std::string attribute;
  mode_t mode = 0;
  bool operator==(const Access& other) const {
    return acl == other.acl && attribute == other.attribute && mode == other.mode;
  }
};
std::ostream& operator<<(std::ostream& os, const Access& a) {
  return os << "acl " << a.acl << ", attribute " << a.attribute << ", mode " << std::oct << a.mode;
}

Access AccessOf(const std::string& path) {
  Access access;
  if (acl_t acl = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS)) {
    if (char* text = ::acl_to_any_text(acl, nullptr, ',', 0)) {
      access.acl = text;
      ::acl_free(text);
    }
    ::acl_free(acl);
  }
  char value[64] = {};
  const ssize_t got = ::getxattr(path.c_str(), "user.station", value, sizeof value - 1);
  if (got > 0) access.attribute.assign(value, static_cast<std::size_t>(got));
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) access.mode = status.st_mode & 07777;
  return access;
}

// Gives path an access list that lets user 1234 write it and an attribute;
// false where the file system has neither.
bool GiveAccess(const std::string& path) {
  acl_t acl = ::acl_from_text("u::rw-,u:1234:rw-,g::---,m::rw-,o::---");
  const bool listed = acl != nullptr && ::acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl) == 0;
  if (acl != nullptr) ::acl_free(acl);
  return listed && ::setxattr(path.c_str(), "user.station", "7", 1, 0) == 0;
}

TEST_F(EndToEndHwidSupplyShared, ReplacedFilesKeepTheirAccessListsAndAttributes) {
  const std::string supply = Supply();
  const std::string dump = dir_.Write("dump.bin", Bytes(16, 0));
  if (!GiveAccess(supply) || !GiveAccess(dump)) {
    GTEST_SKIP() << "the file system keeps no access lists or user attributes";
  }
  // The set-group-id bit beside the list, whose mask the group bits are.
  for (const std::string& file : {supply, dump}) ASSERT_EQ(::chmod(file.c_str(), 02660), 0);
  const Access supply_access = AccessOf(supply);
  const Access dump_access = AccessOf(dump);
  ASSERT_NE(supply_access.acl.find("user:1234:rw-"), std::string::npos) << supply_access;

  const ProgramOutcome run =
      Mrl({"--sethwid", supply, "--hwid_file", "--extract", dump, "--length", "16"});

  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(TempDir::Read(supply), Lines(1));
  const Bytes read = Slice(board().eeprom(), 0, 16);
  EXPECT_EQ(TempDir::Read(dump), std::string(read.begin(), read.end()));
  EXPECT_EQ(AccessOf(supply), supply_access);
  EXPECT_EQ(AccessOf(dump), dump_access);
}

TEST_F(EndToEndHwidSupplyShared, ExtractIntoTheSupplyIsRefusedBeforeTheBoard) {
  const std::string supply = Supply();
  std::filesystem::create_symlink("hwids.txt", dir_ / "dump.bin");
  for (const std::string& target : {supply, dir_ / "dump.bin"}) {
    SCOPED_TRACE(target);
    const ProgramOutcome run =
        Mrl({"--sethwid", supply, "--hwid_file", "--extract", target, "--length", "16"});
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "The extract file is the HWID text file; the EEPROM's bytes would take the place "
              "of its HWIDs.\nInvalid argument received\n");
    ExpectBoardUntouched(board().record());
    EXPECT_EQ(TempDir::Read(supply), Lines(0));
  }
}

// ---- Runs that fail --------------------------------------------------------------------

// A HWID whose bytes never went out stays on offer, first: the command that
// would carry it refused, its data items echoed wrongly, or no loader to take
// it (a hex download, after which the boot monitor's program runs).
TEST_F(EndToEndHwidSupplyShared, HwidThatNeverWentOutStaysOnOffer) {
  const struct {
    const char* name;
    BoardFaults faults;
    std::vector<std::string> words;
    int status;
  } cases[] = {
      {"the HWID's command refused",
       [] {
         BoardFaults f;
         f.nacked_command = kDownload;
         return f;
       }(),
       {},
       5},
      {"its data items echoed wrongly",
       [] {
         BoardFaults f;
         f.wrong_echo = true;
         return f;
       }(),
       {},
       5},
      {"a hex download", BoardFaults{}, {"--hex", "program.hex", "--timeout", "300"}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config;
    config.faults = c.faults;
    StartBoard(config);
    const std::string supply = Supply();
    std::vector<std::string> words{"--sethwid", supply, "--hwid_file"};
    for (const std::string& word : c.words) {
      words.push_back(word == "program.hex" ? File("program.hex", Pattern(64, 3)) : word);
    }

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err.find("may now hold"), std::string::npos) << run.err;
    EXPECT_NE(Programmed(), HwidBytes(Hwid(kLines[0])));
    EXPECT_EQ(TempDir::Read(supply), Lines(0));
    EXPECT_EQ(dir_.Names().size(), c.words.empty() ? 1u : 2u) << "the supply, the hex file";
  }
}

// Whichever action fails after the HWID went out, the run says which HWID the
// board may now hold, and the supply no longer offers it.
TEST_F(EndToEndHwidSupplyShared, FailureAfterTheHwidWentOutSaysWhichHwid) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    int status;
  } cases[] = {
      {"a refused clear", {"--clear", "--length", "64"}, 5},
      {"a refused extract", {"--extract", "dump.bin", "--length", "16"}, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config;
    config.faults.nacked_after = 2;  // the HWID's query and its download pass
    StartBoard(config);
    const std::string supply = Supply();
    std::vector<std::string> words{"--sethwid", supply, "--hwid_file"};
    for (const std::string& word : c.words) {
      words.push_back(word == "dump.bin" ? dir_ / word : word);
    }

    const ProgramOutcome run = Mrl(words);

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(TakenOffLine(kLines[0])), std::string::npos) << run.err;
    EXPECT_EQ(Programmed(), HwidBytes(Hwid(kLines[0])));
    EXPECT_EQ(TempDir::Read(supply), Lines(1));
  }
}

// A signal that ends the run once the HWID's transfer began names the HWID,
// which the supply no longer offers: the board may hold it.
TEST_F(EndToEndHwidSupplyShared, SignalAfterTheHwidWentOutSaysWhichHwid) {
  const struct {
    const char* name;
    int signal;
    bool xip;  // an xip image bound to the HWID, else the HWID alone in a table
  } cases[] = {
      {"SIGINT, xip", SIGINT, true},
      {"SIGTERM, xip", SIGTERM, true},
      {"SIGHUP, table", SIGHUP, false},
      {"SIGINT, table", SIGINT, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config;
    config.faults.held_transfer = true;
    StartBoard(config);
    const std::string supply = Supply();
    std::vector<std::string> words{"--sethwid", supply, "--hwid_file", "--timeout", "0"};
    if (c.xip) words.insert(words.end(), {"--xip", File("image.xip", XipContainer())});
    ProgramRun run(MrlBinary(), OnBoard(words));
    ASSERT_TRUE(board().WaitUntil([](const BoardRecord& r) { return r.loader_held; }, kPrompt))
        << run.err();

    run.Signal(c.signal);
    const ProgramOutcome outcome = run.Wait(kRunDeadline);

    ASSERT_FINISHED(outcome);
    EXPECT_EQ(outcome.status, 128 + c.signal);
    const std::string said = std::string(c.signal == SIGINT    ? "SIGINT"
                                         : c.signal == SIGTERM ? "SIGTERM"
                                                               : "SIGHUP") +
                             " received, closing program\n" + TakenOffLine(kLines[0]);
    EXPECT_EQ(AfterStandInWarning(outcome.err), said);
    EXPECT_EQ(TempDir::Read(supply), Lines(1));
    board().HoldLoader(false);
  }
}

// A HWID that never went out, but that a signal cannot put back while
// another program holds the supply's lock, is named as one the supply no
// longer offers.
TEST_F(EndToEndHwidSupplyShared, SignalThatCannotGiveTheHwidBackSaysWhichHwid) {
  BoardConfig config;
  config.faults.held_after = 1;  // the HWID's query passes, its download waits
  StartBoard(config);
  const std::string supply = Supply();
  ProgramRun run(MrlBinary(), OnBoard({"--sethwid", supply, "--hwid_file", "--timeout", "0"}));
  ASSERT_TRUE(Eventually([&] { return TempDir::Read(supply) == Lines(1); })) << run.err();
  const Descriptor holder(::open(supply.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.fd(), LOCK_EX), 0) << std::strerror(errno);

  run.Signal(SIGTERM);
  const ProgramOutcome outcome = run.Wait(kRunDeadline);

  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.status, 128 + SIGTERM);
  EXPECT_EQ(AfterStandInWarning(outcome.err),
            "SIGTERM received, closing program\n" + NotPutBackLines(kLines[0]));
  EXPECT_EQ(TempDir::Read(supply), Lines(1));
  board().HoldLoader(false);
}

TEST_F(EndToEndHwidSupplyShared, UnpluggedAdapterInTheTerminalSaysWhichHwid) {
  const std::string supply = Supply();
  ProgramRun run(MrlBinary(), OnBoard({"--sethwid", supply, "--hwid_file", "--term"}));
  ASSERT_TRUE(run.WaitForOut(kTermStart, kPrompt)) << run.err();
  ASSERT_TRUE(board().HangUp());

  const ProgramOutcome outcome = run.Wait(kRunDeadline);

  ASSERT_FINISHED(outcome);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find(TakenOffLine(kLines[0])), std::string::npos) << outcome.err;
  EXPECT_EQ(TempDir::Read(supply), Lines(1));
}

// ---- What a kill leaves -----------------------------------------------------------------

// The number of a process that has ended.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// A run killed at its commit leaves its temporary name behind; the next run
// that replaces that file, on the supply or extracting into it, removes it. It
// leaves the names it would not make for that file: another file's, one of a
// process that still runs, the user's own files of a like name.
TEST_F(EndToEndHwidSupplyShared, WhatAKilledRunLeftIsRemovedByTheNext) {
  const std::string dead = std::to_string(EndedProcess());
  const std::string alive = std::to_string(::getpid());
  const std::string supply = Supply();
  const std::string supply_left = ".hwids.txt.mrl-" + dead + ".aB3xYz";
  const std::string dump_left = ".dump.bin.mrl-" + dead + ".Q9w2E1";
  const std::vector<std::string> never{
      ".hwids.txt.mrl-" + alive + ".kEpT00",  // a running process's
      ".hwids.txt.mrl-" + dead + ".notours",  // no name of ours
      ".notes.mrl-" + dead + ".Ab12Cd",       // the user's own file
      ".hwids.txt~.mrl-" + dead + ".Ab12Cd",  // another file's
  };
  const struct {
    std::vector<std::string> words;
    std::string removed;
    std::string kept;
  } cases[] = {
      {{"--sethwid", supply, "--hwid_file"}, supply_left, dump_left},
      {{"--extract", dir_ / "dump.bin", "--length", "16"}, dump_left, supply_left},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words[0]);
    StartBoard();
    for (const std::string& name : never) dir_.Write(name, "partial");
    dir_.Write(supply_left, "partial");
    dir_.Write(dump_left, "partial");

    const ProgramOutcome run = Mrl(c.words);

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / c.removed)) << c.removed;
    EXPECT_TRUE(std::filesystem::exists(dir_ / c.kept)) << "another file's: " << c.kept;
    for (const std::string& name : never) {
      EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
    }
  }
}

}  // namespace
}  // namespace mrl_test
