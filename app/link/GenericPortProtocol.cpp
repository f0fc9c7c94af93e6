#include "link/GenericPortProtocol.h"

#include "console/VerboseStream.h"

using std::chrono::milliseconds;

const std::string GenericPortProtocol::kStartWaitStr{"Waiting for START..."};
const std::string GenericPortProtocol::kStartRecvStr{"Received START."};
const std::string GenericPortProtocol::kStartResp{"Sending START."};
const std::string GenericPortProtocol::kAckWaitStr{"Waiting for ACK..."};
const std::string GenericPortProtocol::kAckRecvStr{"Received ACK."};
const std::string GenericPortProtocol::kAckResp{"Sending ACK."};
const std::string GenericPortProtocol::kDlStart{"Starting file download to Quarn2."};
const std::string GenericPortProtocol::kDlGo{"Download in progress."};
const std::string GenericPortProtocol::kDlMaybeReset{"You may need to reset the board."};

namespace {

void ThrowOnFailure(const qmx::GenericPort::TransferResult& result) {
  if (result.failed()) throw GenericPortProtocol::Exception(std::get<1>(result));
}

}  // namespace

std::uint8_t GenericPortProtocol::read_with_throw() {
  return read_with_throw(default_timeout_);
}

std::uint8_t GenericPortProtocol::read_with_throw(milliseconds timeout) {
  std::uint8_t byte = 0;
  ThrowOnFailure(port_.read_all(&byte, 1, timeout));
  return byte;
}

void GenericPortProtocol::write_with_throw(std::uint8_t byte) {
  write_with_throw(byte, default_timeout_);
}

void GenericPortProtocol::write_with_throw(std::uint8_t byte, milliseconds timeout) {
  ThrowOnFailure(port_.write_all(&byte, 1, timeout));
}

void GenericPortProtocol::read_all_with_throw(std::uint8_t* buf, unsigned len) {
  ThrowOnFailure(port_.read_all(buf, len, default_timeout_));
}

void GenericPortProtocol::write_all_with_throw(const std::uint8_t* data, unsigned len) {
  ThrowOnFailure(port_.write_all(data, len, default_timeout_));
}

void GenericPortProtocol::byte_exchange_sequence(std::uint8_t expected, std::uint8_t reply,
                                                 const std::string& wait_text,
                                                 const std::string& received_text) {
  byte_exchange_sequence(expected, reply, wait_text, received_text, default_timeout_);
}

void GenericPortProtocol::byte_exchange_sequence(std::uint8_t expected, std::uint8_t reply,
                                                 const std::string& wait_text,
                                                 const std::string& received_text,
                                                 milliseconds timeout) {
  std::ostream& vout = qmx::VerboseStream();
  vout << wait_text << '\n';
  while (read_with_throw(timeout) != expected) {
  }
  vout << received_text << '\n';
  write_with_throw(reply, timeout);
}

std::uint8_t GenericPortProtocol::byte_exchange_sequence(std::uint8_t reply,
                                                         const std::string& wait_text,
                                                         const std::string& received_text) {
  return byte_exchange_sequence(reply, wait_text, received_text, default_timeout_);
}

std::uint8_t GenericPortProtocol::byte_exchange_sequence(std::uint8_t reply,
                                                         const std::string& wait_text,
                                                         const std::string& received_text,
                                                         milliseconds timeout) {
  std::ostream& vout = qmx::VerboseStream();
  vout << wait_text << '\n';
  const std::uint8_t byte = read_with_throw(timeout);
  vout << received_text << '\n';
  write_with_throw(reply, timeout);
  return byte;
}

void GenericPortProtocol::MaybePrintPortError() const {
  const std::string text = port_.getLastErrorString();
  if (text.empty()) return;
  qmx::VerboseStream() << "The port indicated the following error: \n" << text << "\n";
}

std::uint16_t GenericPortProtocol::reverse_endianness(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}
