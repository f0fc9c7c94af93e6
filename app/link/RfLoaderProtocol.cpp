#include "link/RfLoaderProtocol.h"

#include <algorithm>
#include <ostream>

#include "console/VerboseStream.h"

std::uint8_t RfLoaderProtocol::WritePacket(std::uint8_t command) {
  return WritePacket(command, nullptr, 0);
}

std::uint8_t RfLoaderProtocol::WritePacket(std::uint8_t command, const std::uint8_t* data,
                                           unsigned len) {
  const std::uint8_t length = static_cast<std::uint8_t>(len);
  unsigned sum = command + length;
  for (unsigned i = 0; i < len; ++i) sum += data[i];
  protocol_.write_with_throw(command);
  protocol_.write_with_throw(length);
  if (len != 0) protocol_.write_all_with_throw(data, len);
  protocol_.write_with_throw(static_cast<std::uint8_t>(~sum));
  return protocol_.read_with_throw();
}

mrl::HwidResult RfLoaderProtocol::GetHWID() {
  return protocol_.Guarded<mrl::HwidResult>([&]() -> mrl::HwidResult {
    protocol_.console().out << "Power on RF Download Target...\n";
    std::uint8_t reply[8] = {};
    do {
      WritePacket(kHwidPollCommand);
      protocol_.read_all_with_throw(reply, sizeof reply);
    } while (std::all_of(reply, reply + sizeof reply, [](std::uint8_t b) { return b == 0; }));
    HWID::Raw words{};
    for (unsigned i = 0; i < words.size(); ++i) {
      words[i] = static_cast<std::uint16_t>(reply[2 * i] | reply[2 * i + 1] << 8);
    }
    std::ostream& out = protocol_.console().out;
    out << "Downloading to target with HWID: " << std::hex;
    for (std::uint16_t word : words) out << word;
    out << std::dec << "\n";
    return words;
  });
}

void RfLoaderProtocol::WaitUntilSectionDone() {
  std::uint8_t status[3] = {0xFF, 0, 0};
  do {
    WritePacket(kStatusPollCommand);
    protocol_.read_all_with_throw(status, sizeof status);
  } while (status[0] != 0);
}

mrl::Result RfLoaderProtocol::DownloadFile(const std::uint8_t* data, unsigned len,
                                           const std::function<void()>& before_data) {
  if (len % kSectionLen != 0) return mrl::SpecificError::kInvalidArgument;
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    std::ostream& vout = qmx::VerboseStream();
    protocol_.console().out << GenericPortProtocol::kDlGo << "\n";
    vout << "Sending data: 0% done\r" << std::flush;
    if (before_data) before_data();
    for (unsigned pos = 0; pos != len;) {
      for (unsigned end = pos + kSectionLen; pos != end; pos += kPacketLen) {
        WritePacket(kDataCommand, data + pos, kPacketLen);
      }
      WaitUntilSectionDone();
      vout << "Sending data: " << static_cast<double>(pos) * 100 / len << "% done\r" << std::flush;
    }
    WaitUntilSectionDone();
    vout << "Sending data: 100% done\n";
    return qmx::Error::None{};
  });
}
