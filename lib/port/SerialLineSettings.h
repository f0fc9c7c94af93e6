#pragma once
// The line settings of a serial port, read and written whole by
// qmx::SerialPort::get_state and set_state.

#include <array>
#include <cstdint>

namespace qmx {

// The Linux driver's settings record (its termios2: modes, control characters
// and exact rates) together with the levels at which the port holds its DTR and
// RTS lines. Start from the record that get_state returns and change only what
// the link needs.
struct SerialLineSettings {
  std::uint32_t input_modes = 0;
  std::uint32_t output_modes = 0;
  std::uint32_t control_modes = 0;
  std::uint32_t local_modes = 0;
  std::uint8_t line_discipline = 0;
  std::array<std::uint8_t, 19> control_chars{};
  std::uint32_t input_rate = 0;   // bits per second
  std::uint32_t output_rate = 0;  // bits per second
  bool dtr = false;               // DTR held high
  bool rts = false;               // RTS held high

  // Both directions at exactly baud bits per second, standard rate or not.
  void set_baud_rate(unsigned baud);
  // The rate at which bytes are sent.
  unsigned baud_rate() const { return output_rate; }
  // Bytes pass unchanged: no input or output processing, no echo, no line
  // editing, no signals; 8 data bits, no parity, one stop bit; the receiver on
  // and the modem status lines ignored; reads return at once.
  void set_raw_8N1();
  // No hardware (RTS/CTS) and no software (XON/XOFF) flow control.
  void disable_flow_control();
  // The modem lines are not driven: DTR and RTS held low, and closing the port
  // leaves them alone (no hang-up on close).
  void disable_line_control();
};

namespace detail {

// Read and write the driver's part of the record (everything but dtr and rts)
// on an open terminal device; false with errno set on failure.
bool ReadDriverSettings(int fd, SerialLineSettings& settings);
bool WriteDriverSettings(int fd, const SerialLineSettings& settings);

}  // namespace detail
}  // namespace qmx
