// The RF loader's packet protocol against the simulated board, through the
// serial port.
#include <gtest/gtest.h>

#include "BoardLink.h"
#include "VerboseCapture.h"
#include "link/HexProtocol.h"
#include "link/RfLoaderProtocol.h"
#include "link/XipImageLoader.h"

namespace {

using mrl_test::BoardConfig;
using mrl_test::BoardLink;
using mrl_test::BoardRecord;
using mrl_test::Program;
using mrl_test::Running;
using mrl_test::VerboseCapture;
using Bytes = std::vector<std::uint8_t>;

TEST(RfLoaderBoard, HwidPollsUntilATargetAnswers) {
  BoardConfig config = Running(Program::kRfLoader);
  config.faults.rf_empty_polls = 3;
  BoardLink link(config);
  RfLoaderProtocol rf(link.protocol);
  const mrl::HwidResult hwid = rf.GetHWID();
  EXPECT_EQ(link.console.out(),
            "Power on RF Download Target...\nDownloading to target with HWID: 1234000\n");
  ASSERT_EQ(hwid.index(), 0u);
  EXPECT_EQ(std::get<0>(hwid), (HWID::Raw{0x1234, 0, 0, 0}));
  EXPECT_EQ(link.board.record().rf_hwid_polls, 4u);
}

TEST(RfLoaderBoard, DownloadsSectionsWithStatusPolls) {
  BoardConfig config = Running(Program::kRfLoader);
  config.faults.rf_busy_polls = 2;
  BoardLink link(config);
  RfLoaderProtocol rf(link.protocol);
  VerboseCapture vout;
  Bytes image(24576);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 3 + 1);
  const mrl::Result result = rf.DownloadFile(image.data(), 24576);
  EXPECT_EQ(link.console.out(), "Download in progress.\n");
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(vout.str(),
            "Sending data: 0% done\rSending data: 33.3333% done\rSending data: 66.6667% done\r"
            "Sending data: 100% done\rSending data: 100% done\n");
  ASSERT_TRUE(link.board.WaitUntil([](const BoardRecord& r) { return r.rf_status_polls == 12; }));
  const BoardRecord record = link.board.record();
  EXPECT_EQ(record.rf_image, image);
  EXPECT_EQ(record.rf_bad_check_bytes, 0u);
}

TEST(RfLoaderBoard, EmptyImageMakesOnlyTheFinalStatusPolls) {
  BoardLink link(Running(Program::kRfLoader));
  RfLoaderProtocol rf(link.protocol);
  VerboseCapture vout;
  const mrl::Result result = rf.DownloadFile(nullptr, 0);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(vout.str(), "Sending data: 0% done\rSending data: 100% done\n");
  EXPECT_EQ(link.board.record().rf_status_polls, 2u);  // one busy, one done
  EXPECT_TRUE(link.board.record().rf_image.empty());
}

TEST(RfLoaderBoard, SilentLoaderTimesOut) {
  BoardConfig config = Running(Program::kRfLoader);
  config.faults.silent = true;
  BoardLink link(config, std::chrono::milliseconds(200));
  RfLoaderProtocol rf(link.protocol);
  const mrl::HwidResult hwid = rf.GetHWID();
  ASSERT_EQ(hwid.index(), 1u);
  EXPECT_EQ(static_cast<int>(std::get<1>(hwid)), 4);
}

TEST(RfLoaderBoard, RfLoaderImageStartsTheRfLoader) {
  BoardLink link;
  HexProtocol hex(link.protocol, HexProtocol::Speed::kFast, 5000);
  link.port.reset();
  std::ostringstream out;
  const mrl::Result loaded = hex.DownloadFile(
      rf_loader_hex.data(), static_cast<unsigned>(rf_loader_hex.size()), false, out);
  ASSERT_FALSE(loaded.failed()) << loaded.msg();
  RfLoaderProtocol rf(link.protocol);
  const mrl::HwidResult hwid = rf.GetHWID();
  ASSERT_EQ(hwid.index(), 0u);
  // 27648 bytes: 13824 words, 0x3600.
  EXPECT_EQ(link.board.record().downloads.at(0).image.size(), 27648u);
}

}  // namespace
