#include "run/PortActions.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "console/VerboseStream.h"
#include "link/HIDPort.h"
#include "link/ImgProtocol.h"
#include "link/XipImageLoader.h"
#include "port/LineSetup.h"
#include "port/SerialPort.h"
#include "run/RamImageDownload.h"

namespace mrl {
namespace {

const Result kSuccess = qmx::Error::None{};
const std::string kRstStr{"Toggling Quarn Reset."};
const std::string kHIDCmdStr{"Sending command to HID device."};

// Stores port as the run's port, destroying the one held before, then builds
// the run's port protocol over it with the `timeout` option.
void InstallPort(RunState& state, std::unique_ptr<qmx::GenericPort> port) {
  state.port = std::move(port);
  state.port_protocol = std::make_unique<GenericPortProtocol>(
      *state.port, std::chrono::milliseconds(state.timeout), state.console);
}

// A port that did not open: one line on the error stream with the device and
// the reason the port gives (none: no line), then GenericPort error 1.
Result RefuseUnopened(const qmx::Console& console, const std::string& device,
                      const std::string& reason) {
  if (!reason.empty()) console.err << "Cannot open " << device << ": " << reason << '\n';
  return Error(qmx::GenericPort::Error::kOpenFailed);
}

// The set-GPIO command of one item such as "A3=1" (port letter A-J, pin 0-7,
// level 0 or 1); none when the item is ill-formed.
std::optional<BeltoLsInitPassthroughCommand> GpioCommand(std::string_view item) {
  const bool well_formed = item.size() == 4 && item[0] >= 'A' && item[0] <= 'J' && item[1] >= '0' &&
                           item[1] <= '7' && item[2] == '=' && (item[3] == '0' || item[3] == '1');
  if (!well_formed) return std::nullopt;
  const int argument = (item[3] - '0') << 7 | (item[0] - 'A') << 3 | (item[1] - '0');
  return BeltoLsInitPassthroughCommand{BeltoLsInitPassthroughCommandKind::kSetGpio,
                                       static_cast<std::uint8_t>(argument)};
}

}  // namespace

Result CheckPortGiven(const boost::program_options::variables_map& vm) {
  if (vm.count("dev") != 0 || vm.count("hid") != 0) return kSuccess;
  return Error(SpecificError::kNoPortSpecified);
}

Result ListHidDevices(const qmx::Console& console) {
  const HIDPort::DeviceList list = HIDPort::getDeviceList();
  if (list.index() == 1) return Error(std::get<1>(list));
  console.out << "Available HID Devices:" << std::endl << std::endl;
  for (const HIDDevice& device : std::get<0>(list)) {
    console.out << "Manufacturer: " << device.manufacturer << std::endl
                << "Product: " << device.product << std::endl
                << "VID:PID:SN " << device.vendor_id << ":" << device.product_id << ":"
                << device.serial_number << std::endl
                << std::endl;
  }
  return kSuccess;
}

Result OpenSerialPort(RunState& state) {
  auto serial = std::make_unique<qmx::SerialPort>(state.dev.c_str());
  if (!serial->is_open()) return RefuseUnopened(state.console, state.dev, serial->open_failure());
  qmx::SetUpBoardLine(*serial, state.baud);
  qmx::VerboseStream() << "Serial port setup at " << state.baud << " baud\n";
  InstallPort(state, std::move(serial));
  return kSuccess;
}

Result OpenHidPort(RunState& state, const boost::program_options::variables_map& vm) {
  auto hid =
      std::make_unique<HIDPort>(state.hid.c_str(), vm.count("mordell") != 0, state.console.err);
  if (!hid->is_open()) {
    return RefuseUnopened(state.console, "HID device " + state.hid, hid->open_failure());
  }
  qmx::VerboseStream() << "HID port setup with device " << state.hid << "\n";
  InstallPort(state, std::move(hid));
  return kSuccess;
}

Result SendHidCommand(RunState& state) {
  qmx::VerboseStream() << kHIDCmdStr << "\n";
  if (state.port->write_command(static_cast<std::uint8_t>(state.hid_cmd & 0xFF)) < 0) {
    return Error(qmx::GenericPort::Error::kWriteFailed);
  }
  return kSuccess;
}

Result ParsePassthroughGpio(RunState& state) {
  qmx::VerboseStream() << "Setting up Belto LS Passthrough GPIO Commands\n";
  const std::string_view text = state.belto_ls_pt_gpio;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(',', begin);
    const std::optional<BeltoLsInitPassthroughCommand> command =
        GpioCommand(text.substr(begin, comma == std::string_view::npos ? comma : comma - begin));
    if (!command) return Error(SpecificError::kBadPassthroughCommand);
    state.passthrough_commands.push_back(*command);
    if (comma == std::string_view::npos) return kSuccess;
    begin = comma + 1;
  }
}

Result StartBeltoLsGx2Passthrough(RunState& state) {
  HexProtocol hex = BootMonitorOf(state);
  std::vector<BeltoLsInitPassthroughCommand> commands = state.passthrough_commands;
  commands.push_back({BeltoLsInitPassthroughCommandKind::kEnd, 0});
  return qmx::Error::InOrder<Result>(
      [&] { return DownloadToRam(state, hex, belto_ls_gx2_passthrough_hex, true); },
      [&] { return hex.ConfirmBeltoLsGx2(commands); });
}

Result ResetBoard(RunState& state, bool belto_ls_gx2) {
  qmx::VerboseStream() << kRstStr << "\n";
  if (belto_ls_gx2) return ImgProtocol(*state.port_protocol).Reset();
  state.port->reset();
  return kSuccess;
}

}  // namespace mrl
