#include "link/HIDPort.h"

#include <hidapi.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>

#include <algorithm>
#include <chrono>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "link/WideText.h"

namespace {

constexpr unsigned kReportSize = 64;
constexpr unsigned kMaxPayload = kReportSize - 2;

constexpr std::uint8_t kDataId = 2;
constexpr std::uint8_t kVestaDataId = 6;
constexpr std::uint8_t kCommandId = 4;
constexpr std::uint8_t kVestaCommandId = 8;
constexpr std::uint8_t kInputId = 1;
constexpr std::uint8_t kVestaInputId = 5;

// What the device text names.
struct DeviceId {
  std::uint16_t vendor_id;
  std::uint16_t product_id;
  std::optional<std::wstring> serial_number;  // none: any device of the two ids
};

std::optional<DeviceId> ParseDeviceText(const std::string& text) {
  std::vector<std::string> fields;
  boost::algorithm::split(fields, text, [](char c) { return c == ':'; });
  if (fields.size() != 2 && fields.size() != 3) return std::nullopt;
  DeviceId id{};
  try {
    id.vendor_id = boost::lexical_cast<std::uint16_t>(fields[0]);
    id.product_id = boost::lexical_cast<std::uint16_t>(fields[1]);
  } catch (const boost::bad_lexical_cast&) {
    return std::nullopt;
  }
  if (fields.size() == 3) {
    id.serial_number = mrl::Utf8ToWide(fields[2]);
    if (!id.serial_number) return std::nullopt;
  }
  return id;
}

// hidapi's text for the last failure of device (null: of opening and
// listing); null when there is none.
const wchar_t* FailureText(hid_device* device) {
  const wchar_t* text = hid_error(device);
  // hidapi answers "Success" rather than null when the last call did not fail.
  return text == nullptr || std::wstring_view(text) == L"Success" ? nullptr : text;
}

}  // namespace

const std::string HIDPort::kMalformedVIDPIDStr{
    "Error: Invalid vendor/product ID or serial number specified for HID device."};

HIDPort::HIDPort(const char* device, bool vesta_ids, std::ostream& err) : vesta_ids_(vesta_ids) {
  hid_init();
  const std::optional<DeviceId> id = ParseDeviceText(device);
  if (!id) {
    err << kMalformedVIDPIDStr << '\n';
    return;
  }
  handle_ = hid_open(id->vendor_id, id->product_id,
                     id->serial_number ? id->serial_number->c_str() : nullptr);
  if (handle_ == nullptr) {
    if (const wchar_t* reason = FailureText(nullptr)) open_failure_ = mrl::WideToUtf8(reason);
    return;
  }
  hid_set_nonblocking(handle_, 1);
}

HIDPort::~HIDPort() {
  close();
}

int HIDPort::close() {
  if (handle_ != nullptr) hid_close(handle_);
  handle_ = nullptr;
  hid_exit();
  return 0;
}

void HIDPort::reset() {
  for (std::uint8_t command : {0x00, 0x01}) {
    write_command(&command, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

int HIDPort::SendReport(std::uint8_t id, const std::uint8_t* data, unsigned len, int attempts) {
  if (handle_ == nullptr) return -1;
  const unsigned n = std::min(len, kMaxPayload);
  std::uint8_t report[kReportSize] = {id, static_cast<std::uint8_t>(n)};
  std::copy_n(data, n, report + 2);
  int result = -1;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    result = hid_write(handle_, report, kReportSize);
    if (result >= 0) return static_cast<int>(n);
  }
  return result;
}

int HIDPort::write_some(const std::uint8_t* data, unsigned len) {
  return SendReport(vesta_ids_ ? kVestaDataId : kDataId, data, len, kWriteAttempts);
}

int HIDPort::write_command(std::uint8_t* data, unsigned len) {
  return SendReport(vesta_ids_ ? kVestaCommandId : kCommandId, data, len, 1);
}

bool HIDPort::Accepted(std::uint8_t report_id) const {
  return report_id == kInputId || (vesta_ids_ && report_id == kVestaInputId);
}

int HIDPort::read_some(std::uint8_t* buf, unsigned len) {
  if (handle_ == nullptr) return -1;
  const auto from_queue = static_cast<unsigned>(std::min<std::size_t>(len, queue_.size()));
  std::copy_n(queue_.begin(), from_queue, buf);
  queue_.erase(queue_.begin(), queue_.begin() + from_queue);
  for (;;) {
    std::uint8_t report[kReportSize] = {};
    const int got = hid_read(handle_, report, kReportSize);
    if (got < 0) return got;
    if (got == 0) return static_cast<int>(from_queue);
    if (!Accepted(report[0])) continue;
    const unsigned payload = report[1];
    if (payload > kMaxPayload) return -1;
    const unsigned taken = std::min(payload, len - from_queue);
    std::copy_n(report + 2, taken, buf + from_queue);
    queue_.insert(queue_.end(), report + 2 + taken, report + 2 + payload);
    return static_cast<int>(from_queue + taken);
  }
}

std::string HIDPort::getLastErrorString() const {
  const wchar_t* text = FailureText(handle_);
  if (text == nullptr) return {};
  std::string message = "Error: ";
  for (; *text != L'\0'; ++text) message += static_cast<char>(*text & 0xFF);
  return message;
}

HIDPort::DeviceList HIDPort::getDeviceList() {
  if (hid_init() != 0) return mrl::SpecificError::kHidapiInit;
  hid_device_info* const list = hid_enumerate(0, 0);
  if (list == nullptr) {
    hid_exit();
    return mrl::SpecificError::kHidEnumeration;
  }
  std::vector<HIDDevice> devices;
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    HIDDevice device;
    device.path = info->path != nullptr ? info->path : "";
    device.vendor_id = info->vendor_id;
    device.product_id = info->product_id;
    device.serial_number = mrl::WideToUtf8(info->serial_number);
    device.manufacturer = mrl::WideToUtf8(info->manufacturer_string);
    device.product = mrl::WideToUtf8(info->product_string);
    devices.push_back(std::move(device));
  }
  hid_free_enumeration(list);
  hid_exit();
  return devices;
}
