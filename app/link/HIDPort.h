#pragma once
// The byte port over a USB HID bridge, which carries the board's byte stream
// and a small command channel in 64-byte reports, and the list of the HID
// devices present.

#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "error/CommonError.h"
#include "link/Error.h"
#include "port/GenericPort.h"

struct hid_device_;  // hidapi's device

// One HID device present.
struct HIDDevice {
  std::string path;  // the platform's path, byte for byte
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::string serial_number;   // UTF-8
  std::uint16_t reserved = 0;  // always 0; nothing reads it
  std::string manufacturer;    // UTF-8
  std::string product;         // UTF-8
};

// read_some and write_some may run on two threads at once (they share only
// the device handle); everything else belongs to one thread.
class HIDPort : public qmx::GenericPort {
 public:
  using DeviceList = qmx::Result<std::vector<HIDDevice>, mrl::SpecificError>;

  static const std::string kMalformedVIDPIDStr;
  // How often write_some offers a refused data report before it gives up.
  static constexpr int kWriteAttempts = 10;

  // device: vendor id, product id and an optional serial number (UTF-8),
  // separated by colons, the ids in decimal ("1155:22422", "1155:22422:A7");
  // vesta_ids selects the Vesta report ids. A malformed text writes
  // kMalformedVIDPIDStr to err; it, and a device that does not open, leave
  // the port closed (is_open false).
  HIDPort(const char* device, bool vesta_ids, std::ostream& err);
  ~HIDPort() override;
  HIDPort(const HIDPort&) = delete;
  HIDPort& operator=(const HIDPort&) = delete;

  bool is_open() override { return handle_ != nullptr; }
  // Releases the device (the destructor then does nothing more); 0.
  int close() override;
  // Nothing to discard on this link; 0.
  int flush() override { return 0; }
  // Sends the bridge command 0x00, waits 200 ms, sends 0x01, waits 200 ms.
  // Results are ignored.
  void reset() override;
  // Sends one data report with the first min(len, 62) bytes and returns that
  // count (a length of 0 sends an empty report). A refused report is offered
  // again at once, up to kWriteAttempts times; then the refusal (negative).
  int write_some(const std::uint8_t* data, unsigned len) override;
  // Hands out queued bytes first, then takes at most one waiting data report:
  // what fits goes to buf, the rest of its payload is queued. Returns the
  // count (0 when nothing is there), or a negative value when the device
  // fails or a report claims more than 62 payload bytes.
  int read_some(std::uint8_t* buf, unsigned len) override;
  // "Error: " and hidapi's text for the last failure; empty when there is none.
  std::string getLastErrorString() const override;
  // Why the device did not open, in hidapi's words (UTF-8); empty when it
  // opened, when the device text was malformed or when hidapi gives no reason.
  const std::string& open_failure() const { return open_failure_; }
  using GenericPort::write_command;
  // Sends one command report with the first min(len, 62) bytes, once; returns
  // that count or hidapi's negative result.
  int write_command(std::uint8_t* data, unsigned len) override;

  // Every HID device present, in hidapi's order; error 6 when hidapi does not
  // initialise, 8 when it lists nothing (also when no device is present).
  static DeviceList getDeviceList();

 private:
  // Sends one report of id with the first min(len, 62) bytes of data, offering
  // it up to attempts times; the payload count or the last negative result.
  int SendReport(std::uint8_t id, const std::uint8_t* data, unsigned len, int attempts);
  bool Accepted(std::uint8_t report_id) const;

  bool vesta_ids_;
  hid_device_* handle_ = nullptr;
  std::deque<std::uint8_t> queue_;  // received bytes not yet handed out, oldest first
  std::string open_failure_;
};
