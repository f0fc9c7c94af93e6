#pragma once
// The host side of the loader image's command protocol: the loader runs from
// the board's RAM and works on its EEPROM or flash.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>

#include "link/Error.h"
#include "link/GenericPortProtocol.h"
#include "link/HwidResult.h"

namespace Loader {

enum class Command : std::uint8_t {
  kGetHwidInfo = 0,
  kDownloadImage = 1,
  kExtractImage = 2,
  kCheckEepromSize = 3,
  kLoadIS2023 = 4,
  kEraseImage = 5,
  kSetFlashMode = 6,
  kDownloadImage24Bit = 7,
  kGetHwid = 8,
  kReset = 9,
};

}  // namespace Loader

// Every operation uses the protocol's default timeout for each transfer and
// returns its failures as its result: port errors 2/3/4 (3 also for a chunk
// the loader did not acknowledge), 5 when the loader refuses a command or
// echoes a data item wrongly, 2 when the transfer's CRC differs. The loader
// image must be running on the board; main thread only, the port borrowed
// for one operation.
class ImgProtocol {
 public:
  // The board's crystal; selects the loader image.
  enum class CrystalFrequency { k12_288MHz = 1, k24_576MHz = 2 };

  static constexpr std::uint8_t kStart = 0x18;
  static constexpr std::uint8_t kAck = 0xA5;
  static constexpr std::uint8_t kNack = 0x24;
  static constexpr unsigned kMaxChunkLen = 1024;

  explicit ImgProtocol(GenericPortProtocol& protocol) : protocol_(protocol) {}

  // What a download runs once the loader took its command, offset and
  // length, just before the first byte of data goes out.
  using BeforeData = std::function<void()>;

  // Writes len bytes (even) at the EEPROM byte offset; "Download succeeded!"
  // to out. before_data, when given, runs only when the data starts to go.
  mrl::Result DownloadFile(const std::uint8_t* data, unsigned len, std::uint16_t offset,
                           std::ostream& out, const BeforeData& before_data = {});
  // The same at a 32-bit offset.
  mrl::Result DownloadFile24Bit(const std::uint8_t* data, unsigned len, unsigned offset,
                                std::ostream& out, const BeforeData& before_data = {});
  // Reads len bytes from offset into buffer ("Beginning image extraction..."
  // first); all of them must arrive within one default timeout. The caller
  // tells when they are where they were to go.
  mrl::Result ExtractImage(std::uint8_t* buffer, unsigned len, std::uint16_t offset);
  // Success when the EEPROM holds 512 kbit; 4 when it is smaller.
  mrl::Result CheckEepromSize();
  // Bluetooth firmware in packets of packet_size bytes; a packet size of 0 is
  // refused with 1 before anything is sent.
  mrl::Result IS2023Load(const std::uint8_t* data, unsigned len, std::uint16_t offset,
                         std::uint16_t packet_size, std::ostream& out);
  mrl::Result EraseImage();
  mrl::Result SetFlashMode();
  mrl::Result Reset();
  // The board's HWID, from the 8-byte reply of command 8 or from the
  // information block of command 0, whose boot monitor notice must match
  // unless accept_bad_banner (else 3).
  mrl::HwidResult GetHWID(bool accept_bad_banner, bool use_command_8);

 private:
  // Writes one chunk and returns whether the loader acknowledged it. Throws
  // GenericPortProtocol::Exception on a port failure.
  bool SendFileChunk(const std::uint8_t* data, unsigned len);
  mrl::Result StartCommandSequence(Loader::Command command);
  mrl::Result TransmitAndCheckDatum(std::uint16_t value, const std::string& name);
  // A data item's value and its name in the messages.
  using DataItem = std::pair<std::uint16_t, const char*>;
  // Sends the items in order, most significant byte first; the first failure ends it.
  mrl::Result TransmitItems(std::initializer_list<DataItem> items);
  mrl::Result ImageCommandSequence(std::uint16_t offset, unsigned len);
  mrl::Result ImageCommandSequence24Bit(unsigned offset, unsigned len);
  mrl::Result IS2023LoaderCommandSequence(std::uint16_t offset, unsigned len, unsigned packet_size);
  // Sends data in chunks, the first of first_chunk bytes and every later one
  // of at most max_chunk, each acknowledged by 0xA5 0xA5 (else port error 3),
  // with the progress line after each.
  void SendChunks(const std::uint8_t* data, unsigned len, unsigned first_chunk, unsigned max_chunk);
  mrl::Result DownloadFileImpl(const std::uint8_t* data, unsigned len, unsigned offset,
                               std::ostream& out, const BeforeData& before_data);
  mrl::Result FinishDownload(const std::uint8_t* data, unsigned len);
  mrl::Result SimpleCommand(Loader::Command command, const char* announcement);

  GenericPortProtocol& protocol_;
};
