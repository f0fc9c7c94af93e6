// The simulated board's own contract, which later tests of the whole program
// rely on: how it sees resets and flushes.
#include "support/SimulatedBoard.h"

#include <gtest/gtest.h>

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

// The host flushes right after the ACK of a valid checksum, which may take the
// ACK with it: the board still runs the program.
TEST(SimulatedBoard, AcceptsADownloadWhoseLastAckWasFlushedAway) {
  BoardLink link;
  HexProtocol hex(link.protocol, HexProtocol::Speed::kFast, 5000);
  link.port.reset();
  const Bytes image(64, 0x42);
  std::ostringstream out;
  testing::internal::CaptureStdout();
  const mrl::Result result = hex.DownloadFile(image.data(), 64, false, out);
  testing::internal::GetCapturedStdout();
  link.port.flush();
  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return !r.downloads.empty(); }));
  const BootDownload download = link.board.record().downloads[0];
  EXPECT_NE(download.answer, BootDownload::Answer::kNack);
  EXPECT_EQ(download.image, image);
  EXPECT_EQ(link.board.record().running, Program::kUserProgram);
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
