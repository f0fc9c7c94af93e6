#include "link/HexProtocol.h"

#include <algorithm>
#include <ostream>

#include "console/VerboseStream.h"
#include "link/Narration.h"

using GPP = GenericPortProtocol;
using mrl::narration::PrintChecksums;
using mrl::narration::PrintProgress;

namespace {

// How many failed chunk attempts one download may make; the last one ends it.
constexpr unsigned kFailureBudget = 255;

// The boot monitor's checksum: the word count plus 0xD911 plus every word.
std::uint16_t BootMonitorChecksum(const std::uint8_t* data, unsigned len) {
  const unsigned words = len / 2;
  unsigned sum = words + 0xD911;
  for (unsigned i = 0; i < words; ++i) sum += data[2 * i] | data[2 * i + 1] << 8;
  return static_cast<std::uint16_t>(sum);
}

}  // namespace

mrl::Result HexProtocol::DownloadFile(const std::uint8_t* data, unsigned len, bool wait_for_eeprom,
                                      std::ostream& out) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    std::ostream& vout = qmx::VerboseStream();
    protocol_.console().out << GPP::kDlStart << " " << GPP::kDlMaybeReset << "\n";
    SetupDownload(len);
    protocol_.console().out << GPP::kDlGo << "\n";
    PrintProgress(vout, 0);
    unsigned budget = kFailureBudget;
    unsigned sent = 0;
    while (sent != len) {
      const unsigned chunk = std::min(len - sent, kMaxChunkLen);
      if (!SendFileChunk(data + sent, chunk)) {
        if (--budget == 0) return mrl::SpecificError::kUnexpectedLoaderInput;
        continue;
      }
      sent += chunk;
      PrintProgress(vout, static_cast<unsigned>(sent * 100ULL / len));
    }
    vout << "Sending data: 100% done\n";
    mrl::Result result = FinishDownload(data, len, wait_for_eeprom);
    if (!result.failed()) out << "Download succeeded!\n";
    return result;
  });
}

void HexProtocol::SetupDownload(unsigned len) {
  const unsigned words = (len / 2) & 0xFFFF;
  const std::string ack = GPP::kAckRecvStr + " ";
  protocol_.byte_exchange_sequence(kStart, kStart, GPP::kStartWaitStr,
                                   GPP::kStartRecvStr + " " + GPP::kStartResp,
                                   std::chrono::milliseconds(reset_timeout_));
  protocol_.byte_exchange_sequence(kAck, speed_ == Speed::kFast ? 0x01 : 0x00, GPP::kAckWaitStr,
                                   ack + "Sending base address LSB.");
  protocol_.byte_exchange_sequence(kAck, 0xC0, GPP::kAckWaitStr, ack + "Sending base address MSB.");
  protocol_.byte_exchange_sequence(kAck, words & 0xFF, GPP::kAckWaitStr,
                                   ack + "Sending length LSB.");
  protocol_.byte_exchange_sequence(kAck, (words >> 8) & 0xFF, GPP::kAckWaitStr,
                                   ack + "Sending length MSB.");
  if (speed_ == Speed::kSlow) {
    qmx::VerboseStream() << GPP::kAckWaitStr << '\n';
    while (protocol_.read_with_throw() != kAck) {
    }
  }
}

bool HexProtocol::SendFileChunk(const std::uint8_t* data, unsigned len) {
  try {
    if (speed_ == Speed::kFast) {
      protocol_.write_all_with_throw(data, len);
      return true;
    }
    for (unsigned i = 0; i < len; ++i) {
      protocol_.write_with_throw(data[i]);
      qmx::VerboseStream() << GPP::kAckWaitStr << '\n';
      if (protocol_.read_with_throw() != kAck) return false;
    }
    return true;
  } catch (const GPP::Exception& e) {
    protocol_.MaybePrintPortError();
    if (static_cast<int>(e.error()) == 4) return false;
    throw;
  }
}

mrl::Result HexProtocol::FinishDownload(const std::uint8_t* data, unsigned len,
                                        bool wait_for_eeprom) {
  std::ostream& vout = qmx::VerboseStream();
  protocol_.byte_exchange_sequence(kAck, kAck, GPP::kAckWaitStr,
                                   GPP::kAckRecvStr + " " + GPP::kAckResp);
  const std::uint8_t lsb = protocol_.byte_exchange_sequence(
      kAck, "Expecting checksum LSB.", "Received checksum LSB. " + GPP::kAckResp);
  vout << "Expecting checksum MSB.\n";
  const std::uint8_t msb = protocol_.read_with_throw();
  vout << "Received checksum MSB.\n";
  const unsigned remote = msb << 8 | lsb;
  const unsigned local = BootMonitorChecksum(data, len);
  PrintChecksums(vout, remote, local);
  if (remote != local) {
    vout << "Invalid checksum received. Sending NACK.\n";
    protocol_.write_with_throw(kNack);
    return mrl::SpecificError::kInvalidChecksum;
  }
  vout << "Valid checksum received. " << GPP::kAckResp << "\n";
  protocol_.write_with_throw(kAck);
  if (wait_for_eeprom) {
    vout << "Waiting on Quarn2 to finalize EEPROM...\n";
    while (protocol_.read_with_throw(kEepromWriteTimeout) != kStart) {
    }
  }
  return qmx::Error::None{};
}

mrl::Result HexProtocol::ConfirmBeltoLsGx2(
    const std::vector<BeltoLsInitPassthroughCommand>& commands) {
  return protocol_.Guarded<mrl::Result>([&]() -> mrl::Result {
    const std::string ack = GPP::kAckRecvStr + " ";
    protocol_.byte_exchange_sequence(kPassthroughStart, kPassthroughStart, GPP::kAckWaitStr,
                                     ack + "Waiting for Belto LS Passthrough to start.");
    for (const BeltoLsInitPassthroughCommand& command : commands) {
      protocol_.byte_exchange_sequence(kPassthroughPrompt, static_cast<std::uint8_t>(command.kind),
                                       GPP::kAckWaitStr,
                                       ack + "Sending Belto LS Init Command Kind.");
      protocol_.byte_exchange_sequence(kPassthroughPrompt, command.argument, GPP::kAckWaitStr,
                                       ack + "Sending Belto LS Init Command Arg.");
    }
    return qmx::Error::None{};
  });
}
