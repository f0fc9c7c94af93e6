#pragma once
// The host side of the Ruvo boot monitor's download protocol, and the set-up
// of the Belto LS passthrough image once it has been downloaded.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <vector>

#include "link/Error.h"
#include "link/GenericPortProtocol.h"

enum class BeltoLsInitPassthroughCommandKind : std::uint8_t { kSetGpio = 1, kEnd = 2 };

// Kind, then argument; for kSetGpio the argument is value << 7 | port << 3 | pin
// (ports A to J as 0 to 9), for kEnd 0.
struct BeltoLsInitPassthroughCommand {
  BeltoLsInitPassthroughCommandKind kind;
  std::uint8_t argument;
};

class HexProtocol {
 public:
  // Slow: the board acknowledges every data byte. Fast: chunks go out whole.
  enum class Speed { kSlow = 1, kFast = 2 };

  static constexpr unsigned kMaxChunkLen = 512;
  static constexpr std::chrono::milliseconds kEepromWriteTimeout{10000};

  static constexpr std::uint8_t kStart = 0x81;
  static constexpr std::uint8_t kAck = 0x5A;
  static constexpr std::uint8_t kNack = 0x42;
  static constexpr std::uint8_t kPassthroughStart = 0x82;
  static constexpr std::uint8_t kPassthroughPrompt = 0x5B;

  // reset_timeout (ms) bounds only the START exchange; 0 waits for it forever.
  // Every other transfer uses the protocol's default timeout.
  HexProtocol(GenericPortProtocol& protocol, Speed speed, unsigned reset_timeout)
      : protocol_(protocol), speed_(speed), reset_timeout_(reset_timeout) {}

  // Downloads len bytes of 16-bit little-endian words (len even, len / 2 fits
  // in 16 bits) to the boot monitor; "Download succeeded!" goes to out. With
  // wait_for_eeprom it then waits until the board has written its EEPROM.
  // Results: port error 2/3/4, 2 checksum mismatch, 5 chunks kept failing.
  mrl::Result DownloadFile(const std::uint8_t* data, unsigned len, bool wait_for_eeprom,
                           std::ostream& out);

  // Right after the passthrough image was downloaded: waits for it to start and
  // hands it the commands in order. Results: port error 2/3/4.
  mrl::Result ConfirmBeltoLsGx2(const std::vector<BeltoLsInitPassthroughCommand>& commands);

 private:
  // Handshake and header; port failures pass on as GenericPortProtocol::Exception.
  void SetupDownload(unsigned len);
  // One chunk; false when it timed out or (slow) was not acknowledged. Other
  // port failures pass on.
  bool SendFileChunk(const std::uint8_t* data, unsigned len);
  // The checksum phase and, when asked, the EEPROM wait.
  mrl::Result FinishDownload(const std::uint8_t* data, unsigned len, bool wait_for_eeprom);

  GenericPortProtocol& protocol_;
  Speed speed_;
  unsigned reset_timeout_;
};
