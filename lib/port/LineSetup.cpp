#include "port/LineSetup.h"

namespace qmx {

void SetUpBoardLine(SerialPort& port, unsigned baud) {
  static_cast<void>(port.set_RTS(false));
  SerialLineSettings settings = port.get_state();
  settings.set_baud_rate(baud);
  settings.set_raw_8N1();
  settings.disable_flow_control();
  settings.disable_line_control();
  static_cast<void>(port.set_state(settings));
  static_cast<void>(port.flush());
}

}  // namespace qmx
