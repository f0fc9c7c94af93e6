#pragma once
// The byte port through which the program talks to a board, whatever the link.

#include <chrono>
#include <cstdint>
#include <string>

#include "error/CommonError.h"

namespace qmx {

// read_some and write_some, and with them read_all and write_all, may run at
// the same time on two threads (the terminal reads on one and writes on the
// other); everything else runs on one thread.
class GenericPort {
 public:
  class Error final : public qmx::Error::Code {
   public:
    using Code::Code;
    const std::string& msg() const override;

    static const Error kOpenFailed;
    static const Error kReadFailed;
    static const Error kWriteFailed;
    static const Error kTimedOut;
  };
  using TransferResult = qmx::Error::Result<qmx::Error::None, Error>;

  virtual ~GenericPort() = default;

  // True when the device was opened and can be used.
  virtual bool is_open() = 0;
  // Releases the device.
  virtual int close() = 0;
  // Discards whatever the link holds in its buffers; 0 on success.
  virtual int flush() = 0;
  // Resets the attached board with the port's own sequence and delays.
  virtual void reset() = 0;
  // Hands at most len bytes to the link without waiting for them to arrive at
  // the far end; returns the count accepted (0..len) or a negative value on failure.
  virtual int write_some(const std::uint8_t* data, unsigned len) = 0;
  // Copies at most len bytes that have already arrived, without waiting;
  // returns the count (0 when nothing is there) or a negative value on failure.
  virtual int read_some(std::uint8_t* buf, unsigned len) = 0;
  // The link's own text for its last failure; empty when there is none.
  virtual std::string getLastErrorString() const = 0;
  // Sends bytes on the link's command channel; -1 where the link has none.
  virtual int write_command(std::uint8_t* data, unsigned len);
  // Sends one command byte through the operation above.
  virtual int write_command(std::uint8_t command);

  // Fill the whole buffer / send every byte, calling the some-operations until
  // done or until timeout has passed for the whole transfer (error 4). A
  // failing some-operation ends the transfer with error 2 (read) or 3 (write).
  // Between calls they wait for the port to be ready (below), at most until the
  // deadline; timeouts of 1 to 9 ms call back to back. A timeout of 0 has no
  // deadline and waits forever.
  TransferResult read_all(std::uint8_t* buf, unsigned len, std::chrono::milliseconds timeout);
  // Succeeds only once the link has sent every byte (wait_sent); bytes handed
  // over but not sent by the deadline are a failed write (error 3).
  TransferResult write_all(const std::uint8_t* data, unsigned len,
                           std::chrono::milliseconds timeout);

  enum class Readiness { kInput, kRoom };
  // Waits at most limit (above 0) until the link has input to read (kInput) or
  // room to take more bytes (kRoom), returning as soon as it has; may return
  // earlier. The base pauses for 1 ms, or for limit when that is shorter.
  // Called on the thread that reads (kInput) or writes (kRoom): read_all and
  // write_all between their calls, and the terminal's output direction.
  virtual void wait_ready(Readiness readiness, std::chrono::milliseconds limit);

 protected:
  // Waits at most limit (0: not at all) until every byte that write_some
  // accepted has left the link; returns the count still waiting to leave, 0
  // once all have, or a negative value on failure. The base knows of no such
  // queue: 0 at once. Called by write_all on its thread.
  virtual int wait_sent(std::chrono::milliseconds limit);
  // The clock on which read_all and write_all measure their deadline; the
  // base reads the steady clock. Called on the thread of the transfer; what
  // it returns must never go back.
  virtual std::chrono::steady_clock::time_point now() const;
};

inline const GenericPort::Error GenericPort::Error::kOpenFailed{1};
inline const GenericPort::Error GenericPort::Error::kReadFailed{2};
inline const GenericPort::Error GenericPort::Error::kWriteFailed{3};
inline const GenericPort::Error GenericPort::Error::kTimedOut{4};

}  // namespace qmx
