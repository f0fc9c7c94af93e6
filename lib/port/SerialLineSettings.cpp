// The driver's termios2 record lives in <asm/termbits.h>, which clashes with
// <termios.h>; this file is the only one that includes it.
#include "port/SerialLineSettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace qmx {
namespace {

static_assert(sizeof(termios2::c_cc) == sizeof(SerialLineSettings::control_chars),
              "control characters differ from the driver's record");

void ToDriver(const SerialLineSettings& from, termios2& to) {
  to.c_iflag = from.input_modes;
  to.c_oflag = from.output_modes;
  to.c_cflag = from.control_modes;
  to.c_lflag = from.local_modes;
  to.c_line = from.line_discipline;
  std::memcpy(to.c_cc, from.control_chars.data(), sizeof to.c_cc);
  to.c_ispeed = from.input_rate;
  to.c_ospeed = from.output_rate;
}

void FromDriver(const termios2& from, SerialLineSettings& to) {
  to.input_modes = from.c_iflag;
  to.output_modes = from.c_oflag;
  to.control_modes = from.c_cflag;
  to.local_modes = from.c_lflag;
  to.line_discipline = from.c_line;
  std::memcpy(to.control_chars.data(), from.c_cc, sizeof from.c_cc);
  to.input_rate = from.c_ispeed;
  to.output_rate = from.c_ospeed;
}

}  // namespace

void SerialLineSettings::set_baud_rate(unsigned baud) {
  control_modes &= ~static_cast<std::uint32_t>(CBAUD | CIBAUD);
  control_modes |= BOTHER | (BOTHER << IBSHIFT);
  input_rate = baud;
  output_rate = baud;
}

void SerialLineSettings::set_raw_8N1() {
  input_modes &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP |
                                             INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL | IUTF8);
  output_modes &= ~static_cast<std::uint32_t>(OPOST);
  local_modes &=
      ~static_cast<std::uint32_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  control_modes &= ~static_cast<std::uint32_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  control_modes |= CS8 | CREAD | CLOCAL;
  control_chars[VMIN] = 0;
  control_chars[VTIME] = 0;
}

void SerialLineSettings::disable_flow_control() {
  control_modes &= ~static_cast<std::uint32_t>(CRTSCTS);
  input_modes &= ~static_cast<std::uint32_t>(IXON | IXOFF | IXANY);
}

void SerialLineSettings::disable_line_control() {
  control_modes &= ~static_cast<std::uint32_t>(HUPCL);
  dtr = false;
  rts = false;
}

namespace detail {

bool ReadDriverSettings(int fd, SerialLineSettings& settings) {
  termios2 driver{};
  if (::ioctl(fd, TCGETS2, &driver) != 0) return false;
  FromDriver(driver, settings);
  return true;
}

bool WriteDriverSettings(int fd, const SerialLineSettings& settings) {
  termios2 driver{};
  ToDriver(settings, driver);
  return ::ioctl(fd, TCSETS2, &driver) == 0;
}

}  // namespace detail
}  // namespace qmx
