// The port and board-control actions: against the simulated board where they
// talk to a board, against the scripted hidapi stand-in where they talk to a
// HID bridge.
#include "run/PortActions.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <boost/program_options.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BoardSession.h"
#include "link/FakeHidapi.h"
#include "link/VerboseCapture.h"
#include "link/XipImageLoader.h"
#include "port/SerialPort.h"
#include "support/ConsoleCapture.h"
#include "support/PseudoTerminal.h"

namespace {

namespace po = boost::program_options;
using mrl::Result;
using mrl_test::BoardConfig;
using mrl_test::BoardSession;
using mrl_test::ConsoleCapture;
using mrl_test::Program;
using mrl_test::VerboseCapture;
using std::chrono::milliseconds;

// The option values of a command line, for the actions that test them.
po::variables_map Parse(std::vector<const char*> args) {
  po::options_description desc;
  desc.add_options()("dev", po::value<std::string>())(
      "hid", po::value<std::string>()->implicit_value("1155:22422"))("mordell", "")("belto_ls_gx2",
                                                                                    "");
  args.insert(args.begin(), "mrl");
  po::variables_map vm;
  po::store(po::parse_command_line(static_cast<int>(args.size()), args.data(), desc), vm);
  po::notify(vm);
  return vm;
}

BoardConfig Running(Program program) {
  BoardConfig config;
  config.initial_program = program;
  return config;
}

// ---- CheckPortGiven --------------------------------------------------------

TEST(CheckPortGiven, NeedsDevOrHid) {
  EXPECT_FALSE(mrl::CheckPortGiven(Parse({"--dev", "/dev/ttyUSB0"})).failed());
  EXPECT_FALSE(mrl::CheckPortGiven(Parse({"--hid"})).failed());
  EXPECT_FALSE(mrl::CheckPortGiven(Parse({"--hid", "1155:22422:A7"})).failed());

  const Result none = mrl::CheckPortGiven(Parse({"--belto_ls_gx2"}));
  ASSERT_TRUE(none.failed());
  EXPECT_EQ(static_cast<int>(none), mrl::SpecificError::kNoPortSpecified);
  EXPECT_EQ(none.msg(), "No port specified. Must specify a COM or HID port.");
}

// ---- OpenSerialPort --------------------------------------------------------

// A line left in a cooked, slow, flow-controlled state by some earlier user.
void Spoil(const std::string& device) {
  qmx::SerialPort port(device.c_str());
  ASSERT_TRUE(port.is_open());
  qmx::SerialLineSettings settings = port.get_state();
  settings.set_baud_rate(9600);
  settings.control_modes = (settings.control_modes & ~static_cast<std::uint32_t>(CSIZE)) | CS7 |
                           PARENB | CSTOPB | CRTSCTS | HUPCL;
  settings.input_modes |= IXON | IXOFF | ICRNL | ISTRIP;
  settings.output_modes |= OPOST;
  settings.local_modes |= ICANON | ECHO | ISIG;
  ASSERT_EQ(port.set_state(settings), 0) << port.getLastErrorString();
}

class OpenSerialPortAt : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(OpenSerialPortAt, SetsTheLineUpRawAtExactlyTheRate) {
  mrl_test::PseudoTerminal pty;
  Spoil(pty.slave_name());
  ConsoleCapture console;
  VerboseCapture vout;
  mrl::RunState state(console.console());
  state.dev = pty.slave_name();
  state.baud = GetParam();

  const Result result = mrl::OpenSerialPort(state);

  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_NE(state.port_protocol, nullptr);
  auto* serial = dynamic_cast<qmx::SerialPort*>(state.port.get());
  ASSERT_NE(serial, nullptr);
  const qmx::SerialLineSettings line = serial->get_state();
  EXPECT_EQ(line.output_rate, GetParam());
  EXPECT_EQ(line.input_rate, GetParam());
  EXPECT_EQ(line.control_modes & CSIZE, static_cast<unsigned>(CS8));
  EXPECT_EQ(line.control_modes & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(line.input_modes & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(line.output_modes & OPOST, 0u);
  EXPECT_EQ(line.local_modes & (ICANON | ECHO | ISIG), 0u);
  EXPECT_FALSE(line.dtr);
  EXPECT_FALSE(line.rts);
  EXPECT_EQ(vout.str(), "Serial port setup at " + std::to_string(GetParam()) + " baud\n");
  EXPECT_EQ(console.out() + console.err(), "");
}

INSTANTIATE_TEST_SUITE_P(Rates, OpenSerialPortAt, ::testing::Values(115200u, 250000u));

TEST(OpenSerialPort, DeviceThatDoesNotExistFailsAndKeepsThePortHeld) {
  BoardSession session;
  qmx::GenericPort* held = session.state.port.get();
  GenericPortProtocol* held_protocol = session.state.port_protocol.get();
  session.state.dev = "/dev/no-such-serial-device";

  const Result result = mrl::OpenSerialPort(session.state);

  ASSERT_TRUE(result.failed());
  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kOpenFailed);
  EXPECT_EQ(result.msg(), "Could not open port");
  EXPECT_EQ(session.state.port.get(), held);
  EXPECT_EQ(session.state.port_protocol.get(), held_protocol);
  EXPECT_EQ(session.console.out(), "");
  EXPECT_EQ(session.console.err(),
            "Cannot open /dev/no-such-serial-device: No such file or directory\n");
}

TEST(OpenSerialPort, DeviceHeldByAnotherPortIsBusy) {
  mrl_test::PseudoTerminal pty;
  qmx::SerialPort holder(pty.slave_name().c_str());
  ASSERT_TRUE(holder.is_open());
  ConsoleCapture console;
  mrl::RunState state(console.console());
  state.dev = pty.slave_name();

  const Result result = mrl::OpenSerialPort(state);

  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kOpenFailed);
  EXPECT_EQ(state.port, nullptr);
  EXPECT_EQ(console.err(), "Cannot open " + pty.slave_name() +
                               ": the device is busy or held by another program\n");
}

// ---- HID bridge ------------------------------------------------------------

class HidActions : public ::testing::Test {
 protected:
  void SetUp() override { fake_hid::Reset(); }

  ConsoleCapture console;
  VerboseCapture vout;
  mrl::RunState state{console.console()};
};

TEST_F(HidActions, ListHidDevicesShowsEachDeviceInItsBlock) {
  fake_hid::state().devices = {
      {"/dev/hidraw0", 1155, 22422, L"A7", L"Quarn", L"Bridge"},
      {"/dev/hidraw1", 1, 65535, std::nullopt, std::nullopt, L"Bare"},
  };

  const Result result = mrl::ListHidDevices(console.console());

  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(console.out(),
            "Available HID Devices:\n\n"
            "Manufacturer: Quarn\nProduct: Bridge\nVID:PID:SN 1155:22422:A7\n\n"
            "Manufacturer: \nProduct: Bare\nVID:PID:SN 1:65535:\n\n");
}

TEST_F(HidActions, ListHidDevicesPassesTheListsErrorOnSilently) {
  fake_hid::state().init_result = -1;
  const Result uninitialised = mrl::ListHidDevices(console.console());
  EXPECT_EQ(static_cast<int>(uninitialised), mrl::SpecificError::kHidapiInit);

  fake_hid::Reset();  // no device at all
  const Result empty = mrl::ListHidDevices(console.console());
  EXPECT_EQ(static_cast<int>(empty), mrl::SpecificError::kHidEnumeration);
  EXPECT_EQ(console.out() + console.err(), "");
}

TEST_F(HidActions, OpenHidPortOpensTheNamedDevice) {
  state.hid = "1155:22422";
  state.timeout = 250;

  const Result result = mrl::OpenHidPort(state, Parse({"--hid"}));

  ASSERT_FALSE(result.failed()) << result.msg();
  ASSERT_EQ(fake_hid::state().opens.size(), 1u);
  EXPECT_EQ(fake_hid::state().opens[0].vendor_id, 1155);
  EXPECT_EQ(fake_hid::state().opens[0].product_id, 22422);
  ASSERT_NE(state.port, nullptr);
  EXPECT_NE(state.port_protocol, nullptr);
  EXPECT_EQ(vout.str(), "HID port setup with device 1155:22422\n");
}

TEST_F(HidActions, OpenHidPortThatFailsLeavesNoPort) {
  fake_hid::state().open_succeeds = false;
  state.hid = "1155:22422";

  const Result result = mrl::OpenHidPort(state, Parse({"--hid"}));

  ASSERT_TRUE(result.failed());
  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kOpenFailed);
  EXPECT_EQ(state.port, nullptr);
  EXPECT_EQ(state.port_protocol, nullptr);
  EXPECT_EQ(vout.str(), "");
}

TEST_F(HidActions, OpenHidPortSaysWhyTheDeviceDidNotOpen) {
  const struct {
    const char* name;
    std::optional<std::wstring> hidapi_text;
    std::string err;
  } kCases[] = {
      {"hidapi gives a reason", L"No HID devices found in the system.",
       "Cannot open HID device 1155:22422: No HID devices found in the system.\n"},
      {"hidapi gives none", std::nullopt, ""},
      {"hidapi reports success", L"Success", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fake_hid::Reset();
    fake_hid::state().open_succeeds = false;
    fake_hid::state().error = c.hidapi_text;
    ConsoleCapture capture;
    mrl::RunState hid_state(capture.console());
    hid_state.hid = "1155:22422";

    const Result result = mrl::OpenHidPort(hid_state, Parse({"--hid"}));

    EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kOpenFailed);
    EXPECT_EQ(capture.err(), c.err);
  }
}

TEST_F(HidActions, OpenHidPortReportsAMalformedIdentifierOnTheConsole) {
  state.hid = "1155";
  const Result result = mrl::OpenHidPort(state, Parse({"--hid", "1155"}));
  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kOpenFailed);
  EXPECT_EQ(console.err(),
            "Error: Invalid vendor/product ID or serial number specified for HID device.\n");
}

// The report id and payload of the one command report the port sent.
std::pair<int, std::vector<std::uint8_t>> SentCommand() {
  const auto& writes = fake_hid::state().writes;
  if (writes.size() != 1) return {-1, {}};
  const fake_hid::Report& report = writes[0].bytes;
  return {report[0], std::vector<std::uint8_t>(report.begin() + 2, report.begin() + 2 + report[1])};
}

TEST_F(HidActions, SendHidCommandSendsTheLowByteOnTheCommandChannel) {
  struct Case {
    const char* mordell;
    int report_id;
  };
  for (const Case c : {Case{nullptr, 4}, Case{"--mordell", 8}}) {
    SCOPED_TRACE(c.report_id);
    fake_hid::Reset();
    state.hid = "1155:22422";
    std::vector<const char*> args{"--hid"};
    if (c.mordell != nullptr) args.push_back(c.mordell);
    ASSERT_FALSE(mrl::OpenHidPort(state, Parse(args)).failed());
    state.hid_cmd = 0x141;

    const Result result = mrl::SendHidCommand(state);

    ASSERT_FALSE(result.failed()) << result.msg();
    EXPECT_EQ(SentCommand(), std::make_pair(c.report_id, std::vector<std::uint8_t>{0x41}));
  }
  EXPECT_NE(vout.str().find("Sending command to HID device.\n"), std::string::npos);
}

TEST_F(HidActions, SendHidCommandThatIsRefusedIsAWriteError) {
  state.hid = "1155:22422";
  ASSERT_FALSE(mrl::OpenHidPort(state, Parse({"--hid"})).failed());
  fake_hid::state().write_results = {-1};

  const Result result = mrl::SendHidCommand(state);

  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kWriteFailed);
  EXPECT_EQ(result.msg(), "Failed to write to port");
}

TEST(SendHidCommand, SerialPortHasNoCommandChannel) {
  BoardSession session;
  const Result result = mrl::SendHidCommand(session.state);
  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kWriteFailed);
}

// ---- ParsePassthroughGpio --------------------------------------------------

using Commands = std::vector<std::pair<int, int>>;  // kind, argument

Commands KindsAndArguments(const std::vector<BeltoLsInitPassthroughCommand>& commands) {
  Commands pairs;
  for (const auto& c : commands) pairs.emplace_back(static_cast<int>(c.kind), c.argument);
  return pairs;
}

struct GpioCase {
  const char* text;
  bool well_formed;
  Commands appended;
};

void PrintTo(const GpioCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class ParsePassthroughGpio : public ::testing::TestWithParam<GpioCase> {};

TEST_P(ParsePassthroughGpio, AppendsUntilTheFirstIllFormedItem) {
  const GpioCase& c = GetParam();
  ConsoleCapture console;
  VerboseCapture vout;
  mrl::RunState state(console.console());
  state.belto_ls_pt_gpio = c.text;

  const Result result = mrl::ParsePassthroughGpio(state);

  EXPECT_EQ(result.failed(), !c.well_formed);
  if (!c.well_formed) {
    EXPECT_EQ(static_cast<int>(result), mrl::SpecificError::kBadPassthroughCommand);
    EXPECT_EQ(result.msg(), "Belto LS Passthrough Command was ill-formed");
  }
  EXPECT_EQ(KindsAndArguments(state.passthrough_commands), c.appended);
  EXPECT_EQ(vout.str(), "Setting up Belto LS Passthrough GPIO Commands\n");
}

INSTANTIATE_TEST_SUITE_P(
    Items, ParsePassthroughGpio,
    ::testing::Values(GpioCase{"A3=1", true, {{1, 0x83}}}, GpioCase{"B0=0", true, {{1, 0x08}}},
                      GpioCase{"J7=1", true, {{1, 0xCF}}}, GpioCase{"A0=0", true, {{1, 0x00}}},
                      GpioCase{"A3=1,B0=0", true, {{1, 0x83}, {1, 0x08}}},
                      GpioCase{"a3=1", false, {}}, GpioCase{"K0=1", false, {}},
                      GpioCase{"A8=1", false, {}}, GpioCase{"A3=2", false, {}},
                      GpioCase{"A3-1", false, {}}, GpioCase{"PA3=1", false, {}},
                      GpioCase{"A3=1 ", false, {}}, GpioCase{"", false, {}},
                      GpioCase{"A3=1,", false, {{1, 0x83}}}, GpioCase{",A3=1", false, {}},
                      GpioCase{"A3=1,,B0=0", false, {{1, 0x83}}},
                      GpioCase{"A3=1,K0=1,B0=0", false, {{1, 0x83}}}));

// ---- Board control ---------------------------------------------------------

TEST(StartBeltoLsGx2Passthrough, DownloadsThePassthroughAndHandsItTheCommands) {
  BoardSession session;
  session.state.reset_timeout = 5000;
  session.state.belto_ls_pt_gpio = "A3=1,B0=0";
  ASSERT_FALSE(mrl::ParsePassthroughGpio(session.state).failed());

  const Result result = mrl::StartBeltoLsGx2Passthrough(session.state);

  ASSERT_FALSE(result.failed()) << result.msg();
  const std::vector<std::pair<std::uint8_t, std::uint8_t>> sent{{1, 0x83}, {1, 0x08}, {2, 0}};
  EXPECT_TRUE(session.board.WaitUntil(
      [&](const mrl_test::BoardRecord& r) { return r.passthrough_commands == sent; }));
  const mrl_test::BoardRecord record = session.board.record();
  EXPECT_GE(record.resets, 1u);
  ASSERT_EQ(record.downloads.size(), 1u);
  EXPECT_EQ(record.downloads[0].image, belto_ls_gx2_passthrough_hex);
  EXPECT_EQ(session.state.passthrough_commands.size(), 2u);
}

TEST(ResetBoard, WithoutPassthroughTogglesThePortsLines) {
  BoardSession session(Running(Program::kUserProgram));
  VerboseCapture vout;

  const Result result = mrl::ResetBoard(session.state, false);

  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_TRUE(session.board.WaitUntil([](const auto& r) { return r.resets == 1; }));
  EXPECT_TRUE(session.board.record().commands.empty());
  EXPECT_EQ(vout.str(), "Toggling Quarn Reset.\n");
}

TEST(ResetBoard, BehindThePassthroughSendsTheLoadersResetCommand) {
  BoardSession session(Running(Program::kLoader));

  const Result result = mrl::ResetBoard(session.state, true);

  ASSERT_FALSE(result.failed()) << result.msg();
  const mrl_test::BoardRecord record = session.board.record();
  ASSERT_EQ(record.commands.size(), 1u);
  EXPECT_EQ(record.commands[0].command, 9);
}

TEST(ResetBoard, BehindThePassthroughAPortFailureIsTheResult) {
  BoardConfig config = Running(Program::kLoader);
  config.faults.silent = true;
  BoardSession session(config, milliseconds(200));

  const Result result = mrl::ResetBoard(session.state, true);

  EXPECT_EQ(static_cast<int>(result), qmx::GenericPort::Error::kTimedOut);
}

}  // namespace
