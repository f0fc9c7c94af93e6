// The simulated board's own contract, which later tests of the whole program
// rely on: how it sees resets and flushes.
#include "support/SimulatedBoard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "support/ConsoleCapture.h"

#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "BoardLink.h"
#include "link/HexProtocol.h"
#include "link/ImgProtocol.h"

namespace {

using mrl_test::BoardLink;
using mrl_test::BoardRecord;
using mrl_test::BootDownload;
using mrl_test::Program;
using mrl_test::Running;
using Bytes = std::vector<std::uint8_t>;

TEST(SimulatedBoard, ALoneFlushIsNoResetButTheResetSequenceIs) {
  BoardLink link(Running(Program::kLoader));  // which flushes once, as the program does
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(link.board.record().resets, 0u);
  EXPECT_EQ(link.board.record().running, Program::kLoader);
  link.port.reset();
  EXPECT_TRUE(link.board.WaitUntil(
      [](const BoardRecord& r) { return r.resets >= 1 && r.running == Program::kBootMonitor; }));
}

// Sends a small image to the boot monitor and flushes after pause, as the
// program does after a download; the board runs it once it has taken in every
// flush before.
void ExpectADownloadAccepted(BoardLink& link,
                             std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
  HexProtocol hex(link.protocol, HexProtocol::Speed::kFast, 5000);
  const Bytes image(64, 0x42);
  std::ostringstream out;
  testing::internal::CaptureStdout();
  const mrl::Result result = hex.DownloadFile(image.data(), 64, false, out);
  testing::internal::GetCapturedStdout();
  std::this_thread::sleep_for(pause);
  link.port.flush();
  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BootDownload download = link.board.record().downloads[0];
  EXPECT_NE(download.answer, BootDownload::Answer::kNack);
  EXPECT_EQ(download.image, image);
  EXPECT_EQ(link.board.record().running, Program::kUserProgram);
}

// The host flushes right after the ACK of a valid checksum, which may take the
// ACK with it: the board still runs the program.
TEST(SimulatedBoard, AcceptsADownloadWhoseLastAckWasFlushedAway) {
  BoardLink link;
  link.port.reset();
  ExpectADownloadAccepted(link);
}

// A slow step between setting the line up and the reset, as long as a reset's
// own pause, resets the board once: the reset's last flush, and the flush
// after a download that took as long, are no second reset.
TEST(SimulatedBoard, ASlowStepBeforeAResetMakesOneReset) {
  BoardLink link;  // sets the line up, which flushes
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  link.port.reset();
  ExpectADownloadAccepted(link, std::chrono::milliseconds(300));
  // The program takes a byte the host sends after the flush: the board took
  // the flush in before, and stayed with the program.
  const std::uint8_t byte = 0x33;
  ASSERT_FALSE(link.port.write_all(&byte, 1, std::chrono::milliseconds(3000)).failed());
  EXPECT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return !r.received.empty(); }));
  EXPECT_EQ(link.board.record().resets, 1u);
}

// The host's size test on a loader board finds one prompt, so its command
// gets its ACK.
void ExpectTheSizeTestAcknowledged(const mrl_test::SimulatedBoard& board, qmx::SerialPort& port) {
  mrl_test::ConsoleCapture console;
  GenericPortProtocol protocol(port, std::chrono::milliseconds(3000), console.console());
  const mrl::Result result = ImgProtocol(protocol).CheckEepromSize();
  EXPECT_FALSE(result.failed()) << result.msg() << "; " << console.err();
  const BoardRecord record = board.record();
  ASSERT_FALSE(record.commands.empty());
  EXPECT_EQ(record.commands.back().command, 3);
}

// The two tests below set no line up: the flush each makes is the host's
// only one, so the board cannot take it for the end of a reset.

// A flush made before the board sent its prompt did not discard it, even when
// the board takes the flush in only after sending the prompt.
TEST(SimulatedBoard, PromptsOnceAfterAFlushThatCameBeforeThePrompt) {
  mrl_test::SimulatedBoard board(Running(Program::kLoader));
  qmx::SerialPort port(board.device().c_str());
  ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
  std::uint8_t start = 0;
  ASSERT_FALSE(port.read_all(&start, 1, std::chrono::milliseconds(3000)).failed());
  // Read back 65534 zero bytes from offset 0, more than the line holds: the
  // board is still sending them when the host flushes, and prompts after.
  const std::uint8_t command[] = {0x02, 0x7F, 0xFF, 0x00, 0x00};
  ASSERT_FALSE(port.write_all(command, sizeof command, std::chrono::milliseconds(3000)).failed());
  ASSERT_TRUE(board.WaitUntil(
      [](const BoardRecord& r) { return !r.commands.empty() && r.commands[0].items.size() == 2; }));
  ASSERT_EQ(port.flush(), 0);
  // On its way to the prompt the size test skips the rest of the zeros and their CRC, 0x1D0F.
  ExpectTheSizeTestAcknowledged(board, port);
}

// A flush of both directions may reach the board as two reports; only the one
// of what the board sent discards a prompt. So a flush of the host's output
// alone, like the second report, leaves the prompt waiting and adds none.
TEST(SimulatedBoard, AFlushOfTheHostsOutputAloneDiscardsNoPrompt) {
  mrl_test::SimulatedBoard board(Running(Program::kLoader));
  const int fd = ::open(board.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const int flushed = ::tcflush(fd, TCOFLUSH);
  ::close(fd);
  ASSERT_EQ(flushed, 0);
  qmx::SerialPort port(board.device().c_str());
  ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
  ExpectTheSizeTestAcknowledged(board, port);
}

// Each opening of the line starts the reading of flushes afresh: the setup
// flushes of two runs of the program, as far apart as a reset's last two, are
// no reset, and the board still runs its loader for a third.
TEST(SimulatedBoard, FlushesOfTwoOpeningsAreNoReset) {
  mrl_test::SimulatedBoard board(Running(Program::kLoader));
  for (int run = 0; run < 2; ++run) {
    if (run > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    qmx::SerialPort port(board.device().c_str());
    ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
    qmx::SetUpBoardLine(port, 115200);
  }
  qmx::SerialPort port(board.device().c_str());
  ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
  ExpectTheSizeTestAcknowledged(board, port);
  EXPECT_EQ(board.record().resets, 0u);
  EXPECT_EQ(board.record().running, Program::kLoader);
}

// A test that runs one program after another waits for the board to end the
// first one's opening of the line; a line still open never passes for closed.
TEST(SimulatedBoard, TellsWhenItFoundTheLineClosed) {
  mrl_test::SimulatedBoard board(Running(Program::kLoader));
  {
    qmx::SerialPort port(board.device().c_str());
    ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
    qmx::SetUpBoardLine(port, 115200);
  }
  EXPECT_TRUE(board.AwaitClosedLine());
  qmx::SerialPort port(board.device().c_str());
  ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
  EXPECT_FALSE(board.AwaitClosedLine(std::chrono::milliseconds(100)));
}

// Each run of the program opens the board anew; the board keeps its state.
TEST(SimulatedBoard, ServesOneProgramRunAfterAnother) {
  mrl_test::BoardConfig config = Running(Program::kLoader);
  config.hwid = {1, 2, 3, 4};
  mrl_test::SimulatedBoard board(config);
  for (int run = 0; run < 2; ++run) {
    qmx::SerialPort port(board.device().c_str());
    ASSERT_TRUE(port.is_open()) << port.getLastErrorString();
    qmx::SetUpBoardLine(port, 115200);
    mrl_test::ConsoleCapture console;
    GenericPortProtocol protocol(port, std::chrono::milliseconds(3000), console.console());
    ImgProtocol img(protocol);
    const mrl::HwidResult hwid = img.GetHWID(false, true);
    ASSERT_EQ(hwid.index(), 0u) << "run " << run;
    EXPECT_EQ(std::get<0>(hwid), (HWID::Raw{1, 2, 3, 4}));
  }
  EXPECT_EQ(board.record().commands.size(), 2u);
}

// A host that stops reading while the board still has much to send must not
// keep the board from stopping: a failing test ends instead of hanging.
TEST(SimulatedBoard, StopsWhileTheHostIsNotReading) {
  auto stopped = std::make_shared<std::promise<void>>();
  std::future<void> board_gone = stopped->get_future();
  std::thread([stopped] {
    {
      BoardLink link(Running(Program::kLoader));
      // Read back 65534 bytes from offset 0, then read nothing more.
      std::uint8_t start = 0;
      ASSERT_FALSE(link.port.read_all(&start, 1, std::chrono::milliseconds(3000)).failed());
      const std::uint8_t command[] = {0x02, 0x7F, 0xFF, 0x00, 0x00};
      ASSERT_FALSE(
          link.port.write_all(command, sizeof command, std::chrono::milliseconds(3000)).failed());
      link.board.WaitUntil([](const BoardRecord& r) {
        return !r.commands.empty() && r.commands[0].items.size() == 2;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stopped->set_value();
  }).detach();
  ASSERT_EQ(board_gone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
