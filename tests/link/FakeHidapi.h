#pragma once
// A scripted stand-in for the hidapi calls that HIDPort makes, linked in
// place of the library: tests set what each call answers and read what the
// port sent.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace fake_hid {

using Report = std::array<std::uint8_t, 64>;

// One device that hid_enumerate lists; an empty optional is a null string.
struct Record {
  std::optional<std::string> path;
  unsigned short vendor_id = 0;
  unsigned short product_id = 0;
  std::optional<std::wstring> serial_number;
  std::optional<std::wstring> manufacturer;
  std::optional<std::wstring> product;
};

struct OpenCall {
  unsigned short vendor_id;
  unsigned short product_id;
  std::optional<std::wstring> serial_number;  // none: null was passed
};

struct SentReport {
  Report bytes;
  std::chrono::steady_clock::time_point at;
};

struct State {
  // What the calls answer.
  int init_result = 0;
  bool open_succeeds = true;
  std::vector<Record> devices;        // none: hid_enumerate answers null
  std::deque<int> write_results;      // scripted hid_write results; afterwards 64
  std::deque<Report> input;           // reports hid_read hands out, oldest first
  int read_when_empty = 0;            // hid_read's answer once input is used up
  std::optional<std::wstring> error;  // hid_error's text; none: null

  // What the port did.
  int init_calls = 0;
  int exit_calls = 0;
  int close_calls = 0;
  int free_calls = 0;
  int read_calls = 0;
  int nonblocking = -1;  // the last hid_set_nonblocking argument
  std::vector<OpenCall> opens;
  std::vector<SentReport> writes;  // every hid_write call, refused ones included
  std::vector<std::string> order;  // names of the lifecycle calls, in order
};

// The stand-in's state; each test starts with Reset.
State& state();
void Reset();

// A report as the bridge sends it: id, payload length, payload, zeros.
Report MakeReport(std::uint8_t id, const std::vector<std::uint8_t>& payload);
// A report whose length byte is given apart from the payload.
Report MakeReport(std::uint8_t id, std::uint8_t length_byte,
                  const std::vector<std::uint8_t>& payload);

}  // namespace fake_hid
