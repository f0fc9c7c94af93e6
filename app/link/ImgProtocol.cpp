#include "link/ImgProtocol.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "console/VerboseStream.h"
#include "link/LoaderCrc.h"
#include "link/Narration.h"
#include "link/XipImageLoader.h"

using GPP = GenericPortProtocol;
using mrl::narration::PrintChecksums;
using mrl::narration::PrintProgress;

namespace {

// Where the boot monitor's notice and the HWID sit in the information block.
constexpr unsigned kInfoBlockLen = 128;
constexpr unsigned kNoticeAt = 4;
constexpr unsigned kHwidAt = 110;

// Four words, each most significant byte first.
HWID::Raw WordsFromBigEndian(const std::uint8_t* bytes) {
  HWID::Raw words{};
  for (unsigned i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
  return words;
}

}  // namespace

mrl::Result ImgProtocol::StartCommandSequence(Loader::Command command) {
  protocol_.byte_exchange_sequence(kStart, static_cast<std::uint8_t>(command), GPP::kStartWaitStr,
                                   GPP::kStartRecvStr + " Sending command.");
  qmx::VerboseStream() << GPP::kAckWaitStr << '\n';
  const std::uint8_t answer = protocol_.read_with_throw();
  if (answer == kAck) return qmx::Error::None{};
  protocol_.console().err << (answer == kNack ? "Loader image NACKed command.\n"
                                              : "Loader image did not acknowledge command.\n");
  return mrl::SpecificError::kUnexpectedLoaderInput;
}

mrl::Result ImgProtocol::TransmitAndCheckDatum(std::uint16_t value, const std::string& name) {
  std::ostream& vout = qmx::VerboseStream();
  // Memory order of the byte-swapped value: the most significant byte first.
  const std::uint8_t sent[2] = {static_cast<std::uint8_t>(value & 0xFF),
                                static_cast<std::uint8_t>(value >> 8)};
  vout << "Transmitting " << name << ".\n";
  protocol_.write_all_with_throw(sent, 2);
  vout << "Awaiting response with correct " << name << ".\n";
  std::uint8_t echo[2] = {};
  protocol_.read_all_with_throw(echo, 2);
  if (echo[0] == sent[0] && echo[1] == sent[1]) return qmx::Error::None{};
  protocol_.console().err << "Received incorrect " << name << "from loader image!\n";
  return mrl::SpecificError::kUnexpectedLoaderInput;
}

mrl::Result ImgProtocol::TransmitItems(std::initializer_list<DataItem> items) {
  for (const auto& [value, name] : items) {
    if (mrl::Result result = TransmitAndCheckDatum(GPP::reverse_endianness(value), name);
        result.failed()) {
      return result;
    }
  }
  return qmx::Error::None{};
}

mrl::Result ImgProtocol::ImageCommandSequence(std::uint16_t offset, unsigned len) {
  return TransmitItems({{static_cast<std::uint16_t>(len / 2), "length"}, {offset, "offset"}});
}

mrl::Result ImgProtocol::ImageCommandSequence24Bit(unsigned offset, unsigned len) {
  return TransmitItems({{static_cast<std::uint16_t>(len / 2), "length"},
                        {static_cast<std::uint16_t>(offset >> 16), "offset_MSW"},
                        {static_cast<std::uint16_t>(offset & 0xFFFF), "offset_LSW"}});
}

mrl::Result ImgProtocol::IS2023LoaderCommandSequence(std::uint16_t offset, unsigned len,
                                                     unsigned packet_size) {
  return TransmitItems({{offset, "offset"},
                        {static_cast<std::uint16_t>(len), "length"},
                        {static_cast<std::uint16_t>(packet_size), "packet size"}});
}

bool ImgProtocol::SendFileChunk(const std::uint8_t* data, unsigned len) {
  protocol_.write_all_with_throw(data, len);
  std::uint8_t answer[2] = {};
  protocol_.read_all_with_throw(answer, 2);
  return answer[0] == kAck && answer[1] == kAck;
}

void ImgProtocol::SendChunks(const std::uint8_t* data, unsigned len, unsigned first_chunk,
                             unsigned max_chunk) {
  std::ostream& vout = qmx::VerboseStream();
  PrintProgress(vout, 0);
  unsigned sent = 0;
  unsigned chunk = first_chunk;
  while (sent != len) {
    if (!SendFileChunk(data + sent, chunk))
      throw GPP::Exception(qmx::GenericPort::Error::kWriteFailed);
    sent += chunk;
    PrintProgress(vout, static_cast<unsigned>(sent * 100ULL / len));
    chunk = std::min(max_chunk, len - sent);
  }
  vout << "Sending data: 100% done\n";
}

mrl::Result ImgProtocol::DownloadFileImpl(const std::uint8_t* data, unsigned len, unsigned offset,
                                          std::ostream& out, const BeforeData& before_data) {
  protocol_.console().out << GPP::kDlGo << "\n";
  if (before_data) before_data();
  // Bytes from an even offset up to the next 64-byte boundary; 0 on a boundary.
  const unsigned boundary = ((0u - (offset % 65536)) >> 1 & 31) * 2;
  SendChunks(data, len, std::min(len, boundary != 0 ? boundary : kMaxChunkLen), kMaxChunkLen);
  mrl::Result result = FinishDownload(data, len);
  if (!result.failed()) out << "Download succeeded!\n";
  return result;
}

mrl::Result ImgProtocol::FinishDownload(const std::uint8_t* data, unsigned len) {
  std::ostream& vout = qmx::VerboseStream();
  vout << "Awaiting remote checksum.\n";
  std::uint8_t bytes[2] = {};
  protocol_.read_all_with_throw(bytes, 2);
  const unsigned remote = bytes[0] << 8 | bytes[1];
  const unsigned local = LoaderCrc(data, len);
  PrintChecksums(vout, remote, local);
  if (remote != local) return mrl::SpecificError::kInvalidChecksum;
  return qmx::Error::None{};
}

mrl::Result ImgProtocol::DownloadFile(const std::uint8_t* data, unsigned len, std::uint16_t offset,
                                      std::ostream& out, const BeforeData& before_data) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    protocol_.console().out << GPP::kDlStart << "\n";
    return qmx::Error::InOrder<mrl::Result>(
        [&] { return StartCommandSequence(Loader::Command::kDownloadImage); },
        [&] { return ImageCommandSequence(offset, len); },
        [&] { return DownloadFileImpl(data, len, offset, out, before_data); });
  });
}

mrl::Result ImgProtocol::DownloadFile24Bit(const std::uint8_t* data, unsigned len, unsigned offset,
                                           std::ostream& out, const BeforeData& before_data) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    protocol_.console().out << GPP::kDlStart << "\n";
    return qmx::Error::InOrder<mrl::Result>(
        [&] { return StartCommandSequence(Loader::Command::kDownloadImage24Bit); },
        [&] { return ImageCommandSequence24Bit(offset, len); },
        [&] { return DownloadFileImpl(data, len, offset, out, before_data); });
  });
}

mrl::Result ImgProtocol::ExtractImage(std::uint8_t* buffer, unsigned len, std::uint16_t offset) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    return qmx::Error::InOrder<mrl::Result>(
        [&] { return StartCommandSequence(Loader::Command::kExtractImage); },
        [&] { return ImageCommandSequence(offset, len); },
        [&] {
          protocol_.console().out << "Beginning image extraction...\n";
          protocol_.read_all_with_throw(buffer, len);
          return FinishDownload(buffer, len);
        });
  });
}

mrl::Result ImgProtocol::CheckEepromSize() {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    return qmx::Error::InOrder<mrl::Result>(
        [&] { return StartCommandSequence(Loader::Command::kCheckEepromSize); },
        [&]() -> mrl::Result {
          if (protocol_.read_with_throw() != kAck) return mrl::SpecificError::kEepromTooSmall;
          return qmx::Error::None{};
        });
  });
}

mrl::Result ImgProtocol::IS2023Load(const std::uint8_t* data, unsigned len, std::uint16_t offset,
                                    std::uint16_t packet_size, std::ostream& out) {
  if (packet_size == 0) return mrl::SpecificError::kInvalidArgument;
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    protocol_.console().out << GPP::kDlStart << "\n";
    return qmx::Error::InOrder<mrl::Result>(
        [&] { return StartCommandSequence(Loader::Command::kLoadIS2023); },
        [&] { return IS2023LoaderCommandSequence(offset, len, packet_size); },
        [&] {
          protocol_.console().out << GPP::kDlGo << "\n";
          SendChunks(data, len, std::min<unsigned>(len, packet_size), packet_size);
          // The loader checks the data as 16-bit words, each byte in the low half.
          std::vector<std::uint8_t> expanded(2 * static_cast<std::size_t>(len), 0);
          for (unsigned i = 0; i < len; ++i) expanded[2 * i + 1] = data[i];
          return FinishDownload(expanded.data(), static_cast<unsigned>(expanded.size()));
        },
        [&] {
          out << "Download succeeded!\n";
          return mrl::Result(qmx::Error::None{});
        });
  });
}

mrl::Result ImgProtocol::SimpleCommand(Loader::Command command, const char* announcement) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    qmx::VerboseStream() << announcement;
    return StartCommandSequence(command);
  });
}

mrl::Result ImgProtocol::EraseImage() {
  return SimpleCommand(Loader::Command::kEraseImage, "Sending Erase Image command...\n");
}

mrl::Result ImgProtocol::SetFlashMode() {
  return SimpleCommand(Loader::Command::kSetFlashMode, "Sending Set Flash Mode command...\n");
}

mrl::Result ImgProtocol::Reset() {
  return SimpleCommand(Loader::Command::kReset, "Sending Reset command...\n");
}

mrl::HwidResult ImgProtocol::GetHWID(bool accept_bad_banner, bool use_command_8) {
  return protocol_.Guarded<mrl::HwidResult>([&]() -> mrl::HwidResult {
    if (use_command_8) {
      mrl::Result result = StartCommandSequence(Loader::Command::kGetHwid);
      if (result.failed()) return std::get<1>(result);
      std::uint8_t reply[8] = {};
      protocol_.read_all_with_throw(reply, sizeof reply);
      return WordsFromBigEndian(reply);
    }
    mrl::Result result = StartCommandSequence(Loader::Command::kGetHwidInfo);
    if (result.failed()) return std::get<1>(result);
    std::uint8_t block[kInfoBlockLen] = {};
    protocol_.read_all_with_throw(block, sizeof block);
    const bool notice_matches =
        std::equal(kBootMonitorNotice.begin(), kBootMonitorNotice.end(), block + kNoticeAt);
    if (!notice_matches && !accept_bad_banner) return mrl::Error(mrl::SpecificError::kNoHwid);
    return WordsFromBigEndian(block + kHwidAt);
  });
}
