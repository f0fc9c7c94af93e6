#include "FakeHidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cstring>

struct hid_device_ {};

namespace fake_hid {
namespace {

hid_device_ the_device;

wchar_t* CopyOrNull(const std::optional<std::wstring>& text) {
  if (!text) return nullptr;
  auto* copy = new wchar_t[text->size() + 1];
  std::copy(text->begin(), text->end(), copy);
  copy[text->size()] = L'\0';
  return copy;
}

}  // namespace

State& state() {
  static State the_state;
  return the_state;
}

void Reset() {
  state() = State{};
}

Report MakeReport(std::uint8_t id, std::uint8_t length_byte,
                  const std::vector<std::uint8_t>& payload) {
  Report report{};
  report[0] = id;
  report[1] = length_byte;
  std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), 62), report.begin() + 2);
  return report;
}

Report MakeReport(std::uint8_t id, const std::vector<std::uint8_t>& payload) {
  return MakeReport(id, static_cast<std::uint8_t>(payload.size()), payload);
}

}  // namespace fake_hid

using fake_hid::state;

int hid_init() {
  ++state().init_calls;
  state().order.push_back("init");
  return state().init_result;
}

int hid_exit() {
  ++state().exit_calls;
  state().order.push_back("exit");
  return 0;
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t* serial_number) {
  state().opens.push_back(
      {vendor_id, product_id,
       serial_number ? std::optional<std::wstring>(serial_number) : std::nullopt});
  state().order.push_back("open");
  return state().open_succeeds ? &fake_hid::the_device : nullptr;
}

int hid_set_nonblocking(hid_device*, int nonblock) {
  state().nonblocking = nonblock;
  return 0;
}

void hid_close(hid_device*) {
  ++state().close_calls;
  state().order.push_back("close");
}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
  fake_hid::SentReport sent{{}, std::chrono::steady_clock::now()};
  std::copy_n(data, std::min(length, sent.bytes.size()), sent.bytes.begin());
  state().writes.push_back(sent);
  if (state().write_results.empty()) return static_cast<int>(length);
  const int result = state().write_results.front();
  state().write_results.pop_front();
  return result;
}

int hid_read(hid_device*, unsigned char* data, size_t length) {
  ++state().read_calls;
  if (state().input.empty()) return state().read_when_empty;
  const fake_hid::Report report = state().input.front();
  state().input.pop_front();
  const std::size_t n = std::min(length, report.size());
  std::copy_n(report.begin(), n, data);
  return static_cast<int>(n);
}

const wchar_t* hid_error(hid_device*) {
  return state().error ? state().error->c_str() : nullptr;
}

hid_device_info* hid_enumerate(unsigned short, unsigned short) {
  hid_device_info* head = nullptr;
  for (auto it = state().devices.rbegin(); it != state().devices.rend(); ++it) {
    auto* info = new hid_device_info{};
    if (it->path) {
      info->path = new char[it->path->size() + 1];
      std::memcpy(info->path, it->path->c_str(), it->path->size() + 1);
    }
    info->vendor_id = it->vendor_id;
    info->product_id = it->product_id;
    info->serial_number = fake_hid::CopyOrNull(it->serial_number);
    info->manufacturer_string = fake_hid::CopyOrNull(it->manufacturer);
    info->product_string = fake_hid::CopyOrNull(it->product);
    info->next = head;
    head = info;
  }
  return head;
}

void hid_free_enumeration(hid_device_info* list) {
  ++state().free_calls;
  while (list != nullptr) {
    hid_device_info* next = list->next;
    delete[] list->path;
    delete[] list->serial_number;
    delete[] list->manufacturer_string;
    delete[] list->product_string;
    delete list;
    list = next;
  }
}
