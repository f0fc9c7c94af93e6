#pragma once
// Runs the mrl program itself against a simulated board: the program opens the
// board's pseudo-terminal as its serial port, and a test checks its exit
// status, what it printed and what the board ended up holding.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "file/HWID.h"
#include "file/TBF.h"
#include "link/XipImageLoader.h"
#include "support/ProgramRun.h"
#include "support/SimulatedBoard.h"
#include "support/TempDir.h"

namespace mrl_test {

using Bytes = std::vector<std::uint8_t>;

// Far beyond any run's own time, also under the sanitizers and a busy machine.
constexpr std::chrono::seconds kRunDeadline{30};

// What the program prints on standard output around a download through the
// boot monitor (of a loader image or a hex image).
inline const std::string kBootDownloadStart =
    "Starting file download to Quarn2. You may need to reset the board.\nDownload in progress.\n";
// A loader image placed in RAM, with the line that follows it.
inline const std::string kLoaderOut = kBootDownloadStart + "\n";
// A hex image through the boot monitor.
inline const std::string kHexOut = kBootDownloadStart + "Download succeeded!\n";
// An image through the loader.
inline const std::string kImgOut =
    "Starting file download to Quarn2.\nDownload in progress.\nDownload succeeded!\n";

inline const std::string kTermStart = "Starting Quarn Simple Terminal (Press CTRL-C to quit):\n";

// A build without target images warns once per run that places one on the
// board. Returns standard error without that warning, which must come first.
inline std::string AfterStandInWarning(const std::string& err) {
  if (kTargetImagesSupplied) return err;
  const std::string warning = "Warning: this build carries no target images";
  if (err.compare(0, warning.size(), warning) != 0) {
    ADD_FAILURE() << "no warning about the missing target images in:\n" << err;
    return err;
  }
  const std::size_t end = err.find('\n');
  return end == std::string::npos ? std::string() : err.substr(end + 1);
}

// Deterministic bytes that are never zero, so a missed write shows.
inline Bytes Pattern(std::size_t len, unsigned seed) {
  Bytes bytes(len);
  for (std::size_t i = 0; i < len; ++i)
    bytes[i] = static_cast<std::uint8_t>(1 + (i * 7 + seed) % 251);
  return bytes;
}

// The EEPROM bytes of a HWID: each word high byte first.
inline Bytes HwidBytes(const HWID::Raw& hwid) {
  Bytes bytes;
  for (std::uint16_t word : hwid) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
    bytes.push_back(static_cast<std::uint8_t>(word));
  }
  return bytes;
}

// A HWID that a board holds, and one given on the command line.
inline const HWID::Raw kBoardHwid{0x1234, 0x0567, 0x0ABC, 0x0DEF};
inline const std::string kHwidText = "0123456789AB";
inline HWID::Raw GivenHwid() {
  return HWID::base32ToRaw(kHwidText.c_str());
}

inline BoardConfig WithHwid(HWID::Raw hwid = kBoardHwid) {
  BoardConfig config;
  config.hwid = hwid;
  return config;
}

// The EEPROM byte address of the board's HWID.
constexpr unsigned kHwidAt = 110;

// A TBF file's text in the current format.
inline std::string TbfFile(const TBF::Table& table) {
  std::ostringstream text;
  table.ToStream(text);
  return text.str();
}

// The loader's commands (see the simulated board): 0 information block, 1
// download, 3 size test.
constexpr std::uint8_t kInformation = 0;
constexpr std::uint8_t kDownload = 1;
constexpr std::uint8_t kSizeTest = 3;

// The loader's commands that the board accepted, in order.
inline std::vector<std::uint8_t> Commands(const BoardRecord& record) {
  std::vector<std::uint8_t> commands;
  for (const LoaderCommand& command : record.commands) commands.push_back(command.command);
  return commands;
}

// A valid xip container, and the img image the library makes of it for a HWID
// and a page size.
Bytes XipContainer();
Bytes XipImage(const Bytes& container, const HWID::Raw& hwid, int page_size);

// How the program shows a HWID: the 18-character hex form, then the base-32
// form in parentheses.
std::string HexForm(const HWID::Raw& hwid);
std::string Base32Form(const HWID::Raw& hwid);

// The line announcing the HWID given on the command line.
std::string Announcement(const HWID::Raw& hwid);
// What the program prints for a TBF table: each binary entry, then the hex entry.
std::string TbfOut(unsigned binary_entries, bool hex);

inline Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t len) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + len));
}

// The path of the mrl program.
std::string MrlBinary();
// Runs mrl with the given words (its standard input empty unless streams say
// otherwise) and waits for its end.
ProgramOutcome RunMrl(const std::vector<std::string>& words, const ChildStreams& streams = {});

// A descriptor of the test's, closed when the test ends.
class Descriptor {
 public:
  Descriptor() = default;
  // Fails the test when fd is not open.
  explicit Descriptor(int fd) : fd_(fd) { EXPECT_GE(fd, 0) << std::strerror(errno); }
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A pipe whose ends are closed on exec, so that a child holds only the end
// handed to it as one of its streams.
struct TestPipe {
  TestPipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0) << std::strerror(errno);
    read.Adopt(fds[0]);
    write.Adopt(fds[1]);
  }
  Descriptor read;
  Descriptor write;
};

// Reads count bytes from the pipe's read end fd, waiting at most timeout for
// them; fewer when they do not come.
inline std::string ReadPipe(int fd, std::size_t count, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  std::string got;
  while (got.size() < count && std::chrono::steady_clock::now() < until) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 10) != 1) continue;
    char c = 0;
    if (::read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

// A fresh board per test, and mrl run against it.
class EndToEnd : public testing::Test {
 protected:
  void StartBoard(BoardConfig config = {}) { board_ = std::make_unique<SimulatedBoard>(config); }
  SimulatedBoard& board() {
    if (!board_) StartBoard();
    return *board_;
  }
  // The words with the board's port in front.
  std::vector<std::string> OnBoard(std::vector<std::string> words) {
    words.insert(words.begin(), {"--dev", board().device()});
    return words;
  }
  // Runs mrl on the board with the given words; the board has ended the run's
  // opening of its line when this returns, so the next run's is its own.
  ProgramOutcome Mrl(const std::vector<std::string>& words, const ChildStreams& streams = {}) {
    ProgramOutcome outcome = RunMrl(OnBoard(words), streams);
    static_cast<void>(board().AwaitClosedLine());
    return outcome;
  }
  std::string File(const std::string& name, const Bytes& bytes) { return dir_.Write(name, bytes); }

  TempDir dir_;

 private:
  std::unique_ptr<SimulatedBoard> board_;
};

// Whether the folder takes files without a name (O_TMPFILE), in which the
// program gathers a file's new contents where it can.
inline bool TakesUnnamedFiles(const TempDir& dir) {
  const int fd = ::open(dir.path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Fails the test unless the board saw nothing of the run: no reset, no byte,
// no download, command or write.
inline void ExpectBoardUntouched(const BoardRecord& record) {
  EXPECT_EQ(record.resets, 0u);
  EXPECT_TRUE(record.received.empty());
  EXPECT_TRUE(record.downloads.empty());
  EXPECT_TRUE(record.commands.empty());
  EXPECT_TRUE(record.writes.empty());
}

// Fails the test when the run did not end by itself.
#define ASSERT_FINISHED(outcome) \
  ASSERT_FALSE((outcome).timed_out) << "out:\n" << (outcome).out << "err:\n" << (outcome).err

}  // namespace mrl_test
