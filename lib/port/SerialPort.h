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

// read_some and write_some (and read_all and write_all over them) may run on
// two threads at once; everything else belongs to one thread. Keeps the base's
// command channel (none: -1). write_all returns success once the driver has
// sent every byte, not just taken it.
class SerialPort : public GenericPort {
 public:
  // Opens the device name as given (e.g. /dev/ttyUSB0), non-blocking, without
  // making it the controlling terminal, and exclusively: an advisory lock
  // (flock) and the terminal's exclusive mode, so a second port on the same
  // device does not open. A device that another program holds in exclusive
  // mode is refused as busy, also when root, whom that mode lets in. Waits 20
  // ms afterwards, whether the open succeeded or not; a failed open shows
  // through is_open, open_failure and getLastErrorString.
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
  // Hands the driver what it takes of len bytes now, without waiting; the
  // count (0 when its buffer is full), or -1 when the device fails.
  int write_some(const std::uint8_t* data, unsigned len) override;
  // Copies up to len bytes that have arrived and returns at once; the count,
  // 0 when nothing has arrived, or -1 when the read fails or the device has
  // gone (hung up, noted as EIO).
  int read_some(std::uint8_t* buf, unsigned len) override;
  // "Error <errno>: <system text>" of this port's last failing system call;
  // empty when none has failed.
  std::string getLastErrorString() const override;
  // Why the device did not open, for the user: "the device is busy or held by
  // another program" when another port or program holds it, "not a serial
  // device" for one that is no terminal, else the system's text ("No such
  // file or directory", "Permission denied"); empty when it opened.
  std::string open_failure() const;

  // The line settings as the driver holds them, and the levels of DTR and RTS.
  SerialLineSettings get_state();
  // Writes the line settings, then holds DTR and RTS at the record's levels
  // (a device without modem lines, such as a pseudo-terminal, has none to
  // hold); 0 on success, 1 on failure.
  int set_state(const SerialLineSettings& settings);
  // Raise (true) or lower (false) one modem line; 1 on success, 0 on failure.
  int set_RTS(bool high);
  int set_DTR(bool high);

  // Waits on the device (poll) for input or room, at most limit. A device that
  // hung up or fails is never ready, so this is noted as the last failure
  // (EIO) and the wait falls back to the base's plain pause.
  void wait_ready(Readiness readiness, std::chrono::milliseconds limit) override;

 protected:
  // The count the driver still holds to send; when there are any, waits first
  // for about their time on the line, at most limit. -1 when the driver does
  // not tell.
  int wait_sent(std::chrono::milliseconds limit) override;

 private:
  int OpenExclusive(const char* device);
  // The device has hung up or fails: waiting on it returns at once.
  bool Gone() const;
  // Sets (high) or clears the modem lines of mask; 0 or the errno of the failure.
  int DriveLines(int mask, bool high);
  // The rate at which the driver sends, bits per second.
  unsigned LineRate();
  // Bytes the driver holds that have not gone out yet; -1 on failure.
  int QueuedOutput();
  void NoteFailure(int error) { last_error_.store(error); }

  int fd_ = -1;
  int open_error_ = 0;  // the errno that kept the device from opening
  std::atomic<int> last_error_{0};
};

}  // namespace qmx
