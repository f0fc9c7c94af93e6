#pragma once
// The byte layer every target protocol speaks through: transfers that throw
// instead of returning a result, so that a protocol reads as a straight
// sequence of steps, and the prompt-and-answer exchange that narrates each
// step on the verbose stream.

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>

#include "console/Console.h"
#include "link/Error.h"
#include "port/GenericPort.h"

class GenericPortProtocol {
 public:
  // Thrown by every transfer below when the port fails; carries the port's
  // error (2 read, 3 write, 4 timeout).
  class Exception : public std::exception {
   public:
    explicit Exception(qmx::GenericPort::Error error) : error_(error) {}
    const char* what() const noexcept override { return error_.msg().c_str(); }
    const qmx::GenericPort::Error& error() const { return error_; }

   private:
    qmx::GenericPort::Error error_;
  };

  static const std::string kStartWaitStr;
  static const std::string kStartRecvStr;
  static const std::string kStartResp;
  static const std::string kAckWaitStr;
  static const std::string kAckRecvStr;
  static const std::string kAckResp;
  static const std::string kDlStart;
  static const std::string kDlGo;
  static const std::string kDlMaybeReset;

  // The port and the console's streams must outlive this object.
  // default_timeout bounds every transfer that takes no timeout of its own, for
  // the whole transfer; 0 waits forever. The protocols built over this object
  // write their headlines and refusals to console.
  GenericPortProtocol(qmx::GenericPort& port, std::chrono::milliseconds default_timeout,
                      const qmx::Console& console)
      : port_(port), default_timeout_(default_timeout), console_(console) {}

  const qmx::Console& console() const { return console_; }

  // One byte in or out, or a whole buffer under one deadline; throw Exception
  // on a port failure. Main thread only, like everything here.
  std::uint8_t read_with_throw();
  std::uint8_t read_with_throw(std::chrono::milliseconds timeout);
  void write_with_throw(std::uint8_t byte);
  void write_with_throw(std::uint8_t byte, std::chrono::milliseconds timeout);
  void read_all_with_throw(std::uint8_t* buf, unsigned len);
  void write_all_with_throw(const std::uint8_t* data, unsigned len);

  // Narrates wait_text, reads and drops bytes until expected arrives (each read
  // under its own deadline, so only a silence of the whole timeout ends the
  // wait), narrates received_text and answers reply. Throws Exception.
  void byte_exchange_sequence(std::uint8_t expected, std::uint8_t reply,
                              const std::string& wait_text, const std::string& received_text);
  void byte_exchange_sequence(std::uint8_t expected, std::uint8_t reply,
                              const std::string& wait_text, const std::string& received_text,
                              std::chrono::milliseconds timeout);
  // The same for the first byte of any value, which it returns.
  std::uint8_t byte_exchange_sequence(std::uint8_t reply, const std::string& wait_text,
                                      const std::string& received_text);
  std::uint8_t byte_exchange_sequence(std::uint8_t reply, const std::string& wait_text,
                                      const std::string& received_text,
                                      std::chrono::milliseconds timeout);

  // Writes the port's own text for its last failure to the verbose stream, if
  // it has one.
  void MaybePrintPortError() const;

  static std::uint16_t reverse_endianness(std::uint16_t value);

  // Runs steps (a callable returning R) and turns an Exception escaping from
  // them into R holding the port error, after printing the port's own text.
  // Every public target-protocol operation runs inside it.
  template <typename R, typename Steps>
  R Guarded(Steps&& steps) const {
    try {
      return steps();
    } catch (const Exception& e) {
      MaybePrintPortError();
      return R(mrl::Error(e.error()));
    }
  }

 private:
  qmx::GenericPort& port_;
  std::chrono::milliseconds default_timeout_;
  qmx::Console console_;
};
