#pragma once
// The byte port over a serial device (Linux terminal device: a USB serial
// adapter, a UART, a pseudo-terminal).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "port/GenericPort.h"
#include "port/SerialLineSettings.h"

namespace qmx {

// read_some and write_some may run on two threads at once; everything else
// belongs to one thread. Keeps the base's command channel (none: -1).
class SerialPort : public GenericPort {
 public:
  // Opens the device name as given (e.g. /dev/ttyUSB0), non-blocking, without
  // making it the controlling terminal, and exclusively: an advisory lock
  // (flock) and the terminal's exclusive mode, so a second port on the same
  // device does not open. Waits 20 ms afterwards, whether the open succeeded or
  // not; a failed open shows through is_open and getLastErrorString.
  explicit SerialPort(const char* device);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool is_open() override { return fd_ >= 0; }
  // Releases the device (the destructor then does nothing more); 0 on success.
  int close() override;
  // Discards what is queued in both directions; 0 on success, 1 on failure.
  int flush() override;
  // Resets the board through RTS and DTR: set RTS, set DTR, flush, clear DTR,
  // flush, wait 200 ms, clear RTS, set DTR, flush, clear DTR, wait 100 ms.
  // Failures are ignored; leaves both lines low.
  void reset() override;
  // Sends all len bytes and returns len once the driver has put them on the
  // line. Gives up with -1 when they are not out within twice their time at
  // the line rate plus 50 ms (a device that stopped taking data), or when the
  // device fails.
  int write_some(const std::uint8_t* data, unsigned len) override;
  // Copies up to len bytes that have arrived and returns at once; the count,
  // 0 when nothing has arrived. Never negative: a failing device reads as silent.
  int read_some(std::uint8_t* buf, unsigned len) override;
  // "Error <errno>: <system text>" of this port's last failing system call;
  // empty when none has failed.
  std::string getLastErrorString() const override;

  // The line settings as the driver holds them, and the levels of DTR and RTS.
  SerialLineSettings get_state();
  // Writes the line settings, then holds DTR and RTS at the record's levels
  // (a device without modem lines, such as a pseudo-terminal, has none to
  // hold); 0 on success, 1 on failure.
  int set_state(const SerialLineSettings& settings);
  // Raise (true) or lower (false) one modem line; 1 on success, 0 on failure.
  int set_RTS(bool high);
  int set_DTR(bool high);

 private:
  int OpenExclusive(const char* device);
  // Sets (high) or clears the modem lines of mask; 0 or the errno of the failure.
  int DriveLines(int mask, bool high);
  // set_RTS and set_DTR for the line of mask.
  int SetLine(int mask, bool high);
  // The rate at which the driver sends, bits per second.
  unsigned LineRate();
  // Hands all len bytes to the driver; false after noting the failure, or
  // ETIMEDOUT when the deadline passes first.
  bool HandOver(const std::uint8_t* data, unsigned len,
                std::chrono::steady_clock::time_point deadline);
  // Waits until the driver has sent everything it holds; false as above.
  bool AwaitSent(std::chrono::steady_clock::time_point deadline);
  void NoteFailure(int error) { last_error_.store(error); }
  bool Failed(int error) {
    NoteFailure(error);
    return false;
  }

  int fd_ = -1;
  std::atomic<int> last_error_{0};
};

}  // namespace qmx
