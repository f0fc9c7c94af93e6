// The program's EEPROM tools on a simulated board: extract, clear and the size test.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

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

// Where the bytes go: a file is replaced whole, through symbolic links and
// keeping its permission bits; what is no regular file is written as it stands.
TEST_F(EndToEndEeprom, ExtractReplacesAFileAndWritesWhatIsNoFileDirectly) {
  StartBoard(WithHwid());
  const Bytes bytes = Slice(board().eeprom(), 104, 16);
  const std::string expected(bytes.begin(), bytes.end());
  const std::string existing = dir_.Write("old.bin", std::string(1000, 'o'));
  ASSERT_EQ(::chmod(existing.c_str(), 0640), 0);
  const std::string link = dir_ / "link.bin";
  std::filesystem::create_symlink("old.bin", link);
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The FIFO's reader, which must find every byte come through it.
  std::string through_fifo;
  std::thread reader([&] { through_fifo = TempDir::Read(fifo); });
  const struct {
    std::string target;
    std::string extract;
  } cases[] = {{dir_ / "new.bin", "new.bin"}, {link, "old.bin"}, {fifo, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const ProgramOutcome run = Mrl({"--extract", c.target, "--offset", "104", "--length", "16"});
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 0) << run.err;
    if (!c.extract.empty()) {
      EXPECT_EQ(TempDir::Read(dir_ / c.extract), expected);
    }
  }
  reader.join();
  EXPECT_EQ(through_fifo, expected);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::status(existing).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"fifo", "link.bin", "new.bin", "old.bin"}));
}

// An extract into a descriptor the run was given goes through it as it
// stands: after what the file held and what the program wrote to it before,
// at the descriptor's position, into the same file, never truncated or
// replaced, whatever name leads to the descriptor.
TEST_F(EndToEndEeprom, ExtractThroughADescriptorOfTheRunWritesWhereItStands) {
  StartBoard(WithHwid());
  const Bytes range = Slice(board().eeprom(), 104, 16);
  const std::string bytes(range.begin(), range.end());
  const std::string old_lines = "line one\nline two\n";
  const std::string extraction = "Beginning image extraction...\n";
  const std::string done = "Done image extraction!\n";
  const std::string link = dir_ / "to-stdout";
  std::filesystem::create_symlink("/dev/stdout", link);
  const struct {
    const char* name;
    int number;  // of the descriptor in the run
    int mode;    // O_APPEND as with >>, O_TRUNC as with >
    std::string target;
  } cases[] = {
      {">> log, /dev/stdout", 1, O_APPEND, "/dev/stdout"},
      {">> log, /dev/fd/1", 1, O_APPEND, "/dev/fd/1"},
      {">> log, /proc/self/fd/1", 1, O_APPEND, "/proc/self/fd/1"},
      {">> log, a link to /dev/stdout", 1, O_APPEND, link},
      {"> log, /dev/stdout", 1, O_TRUNC, "/dev/stdout"},
      {"3>> log, /dev/fd/3", 3, O_APPEND, "/dev/fd/3"},
      {"3>> log, /proc/self/fd/3", 3, O_APPEND, "/proc/self/fd/3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string log = dir_.Write("log", old_lines);
    struct stat before {};
    ASSERT_EQ(::stat(log.c_str(), &before), 0);
    const Descriptor fd(::open(log.c_str(), O_WRONLY | O_CLOEXEC | c.mode));
    ChildStreams streams;
    if (c.number == 1) {
      streams.output = ChildStream::Given(fd.fd());
    } else {
      streams.more = {{c.number, fd.fd()}};
    }

    const ProgramOutcome run =
        Mrl({"--extract", c.target, "--offset", "104", "--length", "16"}, streams);

    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(AfterStandInWarning(run.err), "");
    const std::string kept = c.mode == O_APPEND ? old_lines : "";
    if (c.number == 1) {
      EXPECT_EQ(TempDir::Read(log), kept + kLoaderOut + extraction + bytes + done);
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_EQ(TempDir::Read(log), kept + bytes);
      EXPECT_EQ(run.out, kLoaderOut + extraction + done);
    }
    struct stat after {};
    ASSERT_EQ(::stat(log.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"log", "to-stdout"}));
  }
}

// Found before the board is asked anything.
TEST_F(EndToEndEeprom, ExtractToWhatCannotBeWrittenIsRefusedBeforeTheBoard) {
  const std::string read_only = dir_.Write("read-only.bin", "kept");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  // Standard input is open for reading only; descriptor 57 is not one the run
  // was given, whatever the run itself opens later under that number.
  std::vector<std::string> targets{dir_ / "missing/extract.bin", dir_.path().string(), "/dev/stdin",
                                   "/dev/fd/57", "/proc/self/fd/57"};
  if (::geteuid() != 0) targets.push_back(read_only);  // root may write it anyway
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    StartBoard();
    const ProgramOutcome run = Mrl({"--extract", target, "--length", "16"});
    ASSERT_FINISHED(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Cannot open file\n");
    ExpectBoardUntouched(board().record());
  }
  EXPECT_EQ(TempDir::Read(read_only), "kept");
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"read-only.bin"});
}

// The flash has no size to ask for: an extract from it past 32 KiB reads it
// without the EEPROM size test, also beside a 256-kbit EEPROM.
TEST_F(EndToEndEeprom, ExtractFromTheFlashAsksNothingOfTheEeprom) {
  BoardConfig config;
  config.faults.small_eeprom = true;
  StartBoard(config);
  const std::string file = dir_ / "flash.bin";
  const ProgramOutcome run =
      Mrl({"--extract", file, "--offset", "32768", "--length", "2", "--flash"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kLoaderOut + "Beginning image extraction...\nDone image extraction!\n");
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  EXPECT_TRUE(record.flash_mode);
  for (const LoaderCommand& command : record.commands) EXPECT_NE(command.command, kSizeTest);
  const Bytes flash = board().flash(32768, 2);
  EXPECT_EQ(TempDir::Read(file), std::string(flash.begin(), flash.end()));
}

// An image for the flash that ends past 32 KiB goes there without the EEPROM
// size test, also beside a 256-kbit EEPROM.
TEST_F(EndToEndEeprom, ImageForTheFlashAsksNothingOfTheEeprom) {
  BoardConfig config;
  config.faults.small_eeprom = true;
  StartBoard(config);
  const Bytes img = Pattern(0x8002, 3);
  const ProgramOutcome run = Mrl({"--img", File("image.img", img), "--flash"});
  ASSERT_FINISHED(run);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(AfterStandInWarning(run.err), "");
  const BoardRecord record = board().record();
  EXPECT_TRUE(record.flash_mode);
  for (const LoaderCommand& command : record.commands) EXPECT_NE(command.command, kSizeTest);
  EXPECT_EQ(board().flash(0, static_cast<unsigned>(img.size())), img);
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
