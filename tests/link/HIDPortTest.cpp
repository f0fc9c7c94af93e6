#include "link/HIDPort.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include <chrono>
#include <numeric>

#include "FakeHidapi.h"

namespace {

using fake_hid::MakeReport;
using fake_hid::Report;
using fake_hid::state;
using std::chrono::milliseconds;

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

// The payload a sent report carries, checking the framing on the way.
std::vector<std::uint8_t> PayloadOf(const Report& report) {
  const unsigned n = report[1];
  EXPECT_LE(n, 62u);
  for (unsigned i = 2 + n; i < 64; ++i) EXPECT_EQ(report[i], 0) << "padding at " << i;
  return std::vector<std::uint8_t>(report.begin() + 2, report.begin() + 2 + std::min(n, 62u));
}

class HIDPortTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_hid::Reset(); }
};

struct DeviceTextCase {
  const char* text;
  bool well_formed;
  unsigned short vendor_id;
  unsigned short product_id;
  std::optional<std::wstring> serial_number;
};

DeviceTextCase Malformed(const char* text) {
  return {text, false, 0, 0, std::nullopt};
}

void PrintTo(const DeviceTextCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class DeviceText : public HIDPortTest, public ::testing::WithParamInterface<DeviceTextCase> {};

TEST_P(DeviceText, OpensWhatItNamesOrRefuses) {
  const DeviceTextCase& c = GetParam();
  std::ostringstream err;
  HIDPort port(c.text, false, err);
  const std::string error_output = err.str();

  if (!c.well_formed) {
    EXPECT_EQ(error_output,
              "Error: Invalid vendor/product ID or serial number specified for HID device.\n");
    EXPECT_TRUE(state().opens.empty());
    EXPECT_FALSE(port.is_open());
    return;
  }
  EXPECT_EQ(error_output, "");
  ASSERT_EQ(state().opens.size(), 1u);
  EXPECT_EQ(state().opens[0].vendor_id, c.vendor_id);
  EXPECT_EQ(state().opens[0].product_id, c.product_id);
  EXPECT_EQ(state().opens[0].serial_number, c.serial_number);
  EXPECT_TRUE(port.is_open());
  EXPECT_EQ(state().nonblocking, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceText,
    ::testing::Values(DeviceTextCase{"1155:22422", true, 1155, 22422, std::nullopt},
                      DeviceTextCase{"1155:22422:", true, 1155, 22422, L""},
                      DeviceTextCase{"1155:22422:AB12", true, 1155, 22422, L"AB12"},
                      DeviceTextCase{"1155:22422:\xc3\xa9\xe2\x82\xac", true, 1155, 22422,
                                     L"\u00e9\u20ac"},
                      DeviceTextCase{"-1:0", true, 65535, 0, std::nullopt},
                      DeviceTextCase{"65535:+7", true, 65535, 7, std::nullopt}, Malformed("1155"),
                      Malformed("1:2:3:4"), Malformed(""), Malformed(":22422"),
                      Malformed("abc:22422"), Malformed("65536:22422"), Malformed("1155:0x10"),
                      Malformed(" 1155:22422"), Malformed("1155:22422:\xff"),
                      Malformed("1155:22422:\xc0\xaf"),      // overlong '/'
                      Malformed("1155:22422:\xed\xa0\x80"),  // a surrogate
                      Malformed("1155:22422:\xe2\x82")),     // cut short
    [](const ::testing::TestParamInfo<DeviceTextCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST_F(HIDPortTest, DeviceThatDoesNotOpenLeavesThePortClosed) {
  state().open_succeeds = false;
  {
    HIDPort port("1155:22422", false, std::cerr);
    EXPECT_FALSE(port.is_open());
    std::uint8_t byte = 0;
    EXPECT_LT(port.read_some(&byte, 1), 0);
    EXPECT_LT(port.write_some(&byte, 1), 0);
    EXPECT_LT(port.write_command(std::uint8_t{1}), 0);
  }
  EXPECT_EQ(state().close_calls, 0);
  EXPECT_EQ(state().init_calls, state().exit_calls);
  EXPECT_EQ(state().read_calls, 0);
  EXPECT_TRUE(state().writes.empty());
}

TEST_F(HIDPortTest, ClosesOnceAndEndsHidapiLast) {
  {
    HIDPort port("1155:22422", false, std::cerr);
    EXPECT_EQ(port.close(), 0);
    EXPECT_FALSE(port.is_open());
  }
  EXPECT_EQ(state().close_calls, 1);
  EXPECT_EQ(state().order.front(), "init");
  EXPECT_EQ(state().order[2], "close");
  EXPECT_EQ(state().order[3], "exit");
}

struct FramingCase {
  bool vesta_ids;
  std::uint8_t data_id;
  std::uint8_t command_id;
};

class Framing : public HIDPortTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(Framing, DataGoesIn62ByteReports) {
  HIDPort port("1155:22422", GetParam().vesta_ids, std::cerr);
  const std::vector<std::uint8_t> data = Bytes(100, 1);

  EXPECT_EQ(port.write_some(data.data(), 100), 62);
  ASSERT_EQ(state().writes.size(), 1u);
  EXPECT_EQ(state().writes[0].bytes[0], GetParam().data_id);
  EXPECT_EQ(PayloadOf(state().writes[0].bytes), Bytes(62, 1));

  state().writes.clear();
  ASSERT_FALSE(port.write_all(data.data(), 100, milliseconds(3000)).failed());
  ASSERT_EQ(state().writes.size(), 2u);
  EXPECT_EQ(PayloadOf(state().writes[0].bytes), Bytes(62, 1));
  EXPECT_EQ(PayloadOf(state().writes[1].bytes), Bytes(38, 63));
  EXPECT_EQ(state().writes[1].bytes[0], GetParam().data_id);

  state().writes.clear();
  EXPECT_EQ(port.write_some(data.data(), 0), 0);
  ASSERT_EQ(state().writes.size(), 1u);
  EXPECT_EQ(state().writes[0].bytes[1], 0);
}

TEST_P(Framing, CommandsGoInCommandReports) {
  HIDPort port("1155:22422", GetParam().vesta_ids, std::cerr);
  EXPECT_EQ(port.write_command(std::uint8_t{0x41}), 1);
  ASSERT_EQ(state().writes.size(), 1u);
  EXPECT_EQ(state().writes[0].bytes[0], GetParam().command_id);
  EXPECT_EQ(PayloadOf(state().writes[0].bytes), std::vector<std::uint8_t>{0x41});

  std::vector<std::uint8_t> long_command = Bytes(70, 0);
  EXPECT_EQ(port.write_command(long_command.data(), 70), 62);

  state().writes.clear();
  state().write_results = {-1};
  EXPECT_EQ(port.write_command(std::uint8_t{0x41}), -1);
  EXPECT_EQ(state().writes.size(), 1u) << "a command is offered once";
}

INSTANTIATE_TEST_SUITE_P(ReportIds, Framing,
                         ::testing::Values(FramingCase{false, 2, 4}, FramingCase{true, 6, 8}),
                         [](const ::testing::TestParamInfo<FramingCase>& info) {
                           return info.param.vesta_ids ? "Vesta" : "Plain";
                         });

TEST_F(HIDPortTest, RefusedDataReportsAreOfferedAgainBoundedly) {
  HIDPort port("1155:22422", false, std::cerr);
  const std::vector<std::uint8_t> data = Bytes(5, 9);

  state().write_results = {-1, -1};
  EXPECT_EQ(port.write_some(data.data(), 5), 5);
  ASSERT_EQ(state().writes.size(), 3u);
  EXPECT_EQ(state().writes[2].bytes, state().writes[0].bytes);

  state().writes.clear();
  state().write_results = std::deque<int>(1000, -1);
  EXPECT_EQ(port.write_some(data.data(), 5), -1);
  EXPECT_EQ(state().writes.size(), static_cast<std::size_t>(HIDPort::kWriteAttempts));

  state().writes.clear();
  const auto result = port.write_all(data.data(), 5, milliseconds(0));
  EXPECT_EQ(static_cast<int>(result), 3);
  EXPECT_EQ(result.msg(), "Failed to write to port");
}

TEST_F(HIDPortTest, ReadQueuesWhatDoesNotFit) {
  HIDPort port("1155:22422", false, std::cerr);
  state().input = {MakeReport(1, Bytes(30, 100)), MakeReport(1, Bytes(5, 200))};

  std::vector<std::uint8_t> buf(100);
  EXPECT_EQ(port.read_some(buf.data(), 10), 10);
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 10), Bytes(10, 100));

  EXPECT_EQ(port.read_some(buf.data(), 100), 25);
  std::vector<std::uint8_t> expected = Bytes(20, 110);
  const std::vector<std::uint8_t> next = Bytes(5, 200);
  expected.insert(expected.end(), next.begin(), next.end());
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 25), expected);

  EXPECT_EQ(port.read_some(buf.data(), 100), 0);
}

TEST_F(HIDPortTest, ReadTakesOneReportPerCall) {
  HIDPort port("1155:22422", false, std::cerr);
  state().input = {MakeReport(1, {1, 2}), MakeReport(1, {3})};
  std::uint8_t buf[10];
  EXPECT_EQ(port.read_some(buf, 10), 2);
  EXPECT_EQ(port.read_some(buf, 10), 1);
  EXPECT_EQ(buf[0], 3);
}

TEST_F(HIDPortTest, ReadFromTheQueueAloneWhenTheLengthIsUsedUp) {
  HIDPort port("1155:22422", false, std::cerr);
  state().input = {MakeReport(1, Bytes(8, 0)), MakeReport(1, {99})};
  std::uint8_t buf[8];
  EXPECT_EQ(port.read_some(buf, 4), 4);
  // The queue fills the buffer; the next report's payload is queued behind it.
  EXPECT_EQ(port.read_some(buf, 4), 4);
  EXPECT_EQ(buf[3], 7);
  EXPECT_EQ(port.read_some(buf, 8), 1);
  EXPECT_EQ(buf[0], 99);
}

struct IdCase {
  bool vesta_ids;
  std::uint8_t id;
  bool accepted;
};

void PrintTo(const IdCase& c, std::ostream* os) {
  *os << int(c.id);
}

class InputIds : public HIDPortTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(InputIds, OnlyDataReportsAreTaken) {
  HIDPort port("1155:22422", GetParam().vesta_ids, std::cerr);
  state().input = {MakeReport(GetParam().id, {0xAA}), MakeReport(1, {0xBB})};
  std::uint8_t byte = 0;
  EXPECT_EQ(port.read_some(&byte, 1), 1);
  EXPECT_EQ(byte, GetParam().accepted ? 0xAA : 0xBB);
}

INSTANTIATE_TEST_SUITE_P(Cases, InputIds,
                         ::testing::Values(IdCase{false, 1, true}, IdCase{false, 5, false},
                                           IdCase{false, 2, false}, IdCase{false, 0, false},
                                           IdCase{true, 1, true}, IdCase{true, 5, true},
                                           IdCase{true, 2, false}, IdCase{true, 6, false}),
                         [](const ::testing::TestParamInfo<IdCase>& info) {
                           return std::string(info.param.vesta_ids ? "Vesta" : "Plain") + "Id" +
                                  std::to_string(info.param.id);
                         });

TEST_F(HIDPortTest, ReadFailures) {
  HIDPort port("1155:22422", false, std::cerr);
  std::uint8_t buf[64];

  state().input = {MakeReport(1, 63, Bytes(62, 0))};
  EXPECT_EQ(port.read_some(buf, 64), -1);

  state().input = {MakeReport(1, 62, Bytes(62, 0))};
  EXPECT_EQ(port.read_some(buf, 64), 62);

  state().read_when_empty = -1;
  EXPECT_EQ(port.read_some(buf, 64), -1);
  EXPECT_EQ(static_cast<int>(port.read_all(buf, 1, milliseconds(3000))), 2);
}

TEST_F(HIDPortTest, ResetSendsTwoCommands200MsApart) {
  HIDPort port("1155:22422", false, std::cerr);
  const auto start = std::chrono::steady_clock::now();
  port.reset();
  const auto end = std::chrono::steady_clock::now();

  ASSERT_EQ(state().writes.size(), 2u);
  EXPECT_EQ(state().writes[0].bytes[0], 4);
  EXPECT_EQ(PayloadOf(state().writes[0].bytes), std::vector<std::uint8_t>{0x00});
  EXPECT_EQ(state().writes[1].bytes[0], 4);
  EXPECT_EQ(PayloadOf(state().writes[1].bytes), std::vector<std::uint8_t>{0x01});
  EXPECT_GE(state().writes[1].at - state().writes[0].at, milliseconds(200));
  EXPECT_GE(end - state().writes[1].at, milliseconds(200));
  EXPECT_GE(end - start, milliseconds(400));
}

TEST_F(HIDPortTest, ResetIgnoresRefusals) {
  HIDPort port("1155:22422", true, std::cerr);
  state().write_results = {-1, -1};
  port.reset();
  ASSERT_EQ(state().writes.size(), 2u);
  EXPECT_EQ(state().writes[1].bytes[0], 8);
}

TEST_F(HIDPortTest, LastErrorText) {
  HIDPort port("1155:22422", false, std::cerr);
  EXPECT_EQ(port.getLastErrorString(), "");
  state().error = L"Success";
  EXPECT_EQ(port.getLastErrorString(), "");
  state().error = L"Broken pipe";
  EXPECT_EQ(port.getLastErrorString(), "Error: Broken pipe");
  // Each wide character is cut to its low byte.
  state().error = L"caf\u00e9 \u20ac";
  EXPECT_EQ(port.getLastErrorString(), "Error: caf\xe9 \xac");
}

TEST_F(HIDPortTest, DeviceListErrors) {
  state().init_result = -1;
  const auto not_initialised = HIDPort::getDeviceList();
  ASSERT_EQ(not_initialised.index(), 1u);
  EXPECT_EQ(static_cast<int>(std::get<1>(not_initialised)), 6);

  fake_hid::Reset();
  const auto nothing_listed = HIDPort::getDeviceList();
  ASSERT_EQ(nothing_listed.index(), 1u);
  EXPECT_EQ(static_cast<int>(std::get<1>(nothing_listed)), 8);
  EXPECT_EQ(std::get<1>(nothing_listed).msg(), "Could not enumerate HID devices.");
  EXPECT_EQ(state().init_calls, state().exit_calls);
}

TEST_F(HIDPortTest, DeviceListCarriesEachDevice) {
  state().devices = {
      {"/dev/hidraw3", 1155, 22422, L"0042", L"Fintra", L"Bridge \u00e9\U0001F600"},
      {std::nullopt, 0, 0, std::nullopt, std::nullopt, std::nullopt},
      {"/dev/hidraw0", 65535, 1, std::wstring{L'a', wchar_t(0xD800), L'b'},
       std::wstring{wchar_t(0x110000)}, L""},
  };
  const auto list = HIDPort::getDeviceList();
  ASSERT_EQ(list.index(), 0u);
  const std::vector<HIDDevice>& devices = std::get<0>(list);
  ASSERT_EQ(devices.size(), 3u);

  EXPECT_EQ(devices[0].path, "/dev/hidraw3");
  EXPECT_EQ(devices[0].vendor_id, 1155);
  EXPECT_EQ(devices[0].product_id, 22422);
  EXPECT_EQ(devices[0].serial_number, "0042");
  EXPECT_EQ(devices[0].manufacturer, "Fintra");
  EXPECT_EQ(devices[0].product, "Bridge \xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_EQ(devices[0].reserved, 0);

  EXPECT_EQ(devices[1].path, "");
  EXPECT_EQ(devices[1].vendor_id, 0);
  EXPECT_EQ(devices[1].product_id, 0);
  EXPECT_EQ(devices[1].serial_number, "");
  EXPECT_EQ(devices[1].manufacturer, "");

  // Characters that UTF-8 cannot carry show as U+FFFD.
  EXPECT_EQ(devices[2].serial_number,
            "a\xef\xbf\xbd"
            "b");
  EXPECT_EQ(devices[2].manufacturer, "\xef\xbf\xbd");
  EXPECT_EQ(devices[2].vendor_id, 65535);

  EXPECT_EQ(state().free_calls, 1);
  EXPECT_EQ(state().order.back(), "exit");
}

}  // namespace
