#pragma once
// The host side of the RF loader's packet protocol: the RF loader runs on a
// local device and forwards an image over the air to an RF download target.

#include <cstdint>
#include <functional>

#include "link/Error.h"
#include "link/GenericPortProtocol.h"
#include "link/HwidResult.h"

// Every transfer uses the protocol's default timeout; port failures come back
// as results (2 read, 3 write, 4 timeout).
class RfLoaderProtocol {
 public:
  static constexpr std::uint8_t kDataCommand = 0x20;
  static constexpr std::uint8_t kHwidPollCommand = 0x40;
  static constexpr std::uint8_t kStatusPollCommand = 0x45;
  static constexpr unsigned kPacketLen = 128;
  static constexpr unsigned kSectionLen = 8192;

  explicit RfLoaderProtocol(GenericPortProtocol& protocol) : protocol_(protocol) {}

  // Polls, without limit or pause, until a target answers with a HWID that is
  // not all zero.
  mrl::HwidResult GetHWID();
  // Sends the image in 128-byte packets, waiting after every 8192-byte section
  // until the loader reports it done. A len that is not a multiple of 8192 is
  // refused with 1 before anything is sent. before_data, when given, runs
  // just before the first packet goes out.
  mrl::Result DownloadFile(const std::uint8_t* data, unsigned len,
                           const std::function<void()>& before_data = {});

 private:
  // One packet: command, length, data, check byte; returns the loader's answer
  // byte. Throw GenericPortProtocol::Exception on a port failure.
  std::uint8_t WritePacket(std::uint8_t command);
  std::uint8_t WritePacket(std::uint8_t command, const std::uint8_t* data, unsigned len);
  // Status polls until the loader's status is 0.
  void WaitUntilSectionDone();

  GenericPortProtocol& protocol_;
};
