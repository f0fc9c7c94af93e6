#include "SerialLine.h"

#include <cstring>

namespace mrl_test {

std::string ErrorString(int error) {
  return "Error " + std::to_string(error) + ": " + std::strerror(error);
}

void SetUpLine(qmx::SerialPort& port, unsigned baud) {
  port.set_RTS(false);
  qmx::SerialLineSettings settings = port.get_state();
  settings.set_baud_rate(baud);
  settings.set_raw_8N1();
  settings.disable_flow_control();
  settings.disable_line_control();
  ASSERT_EQ(port.set_state(settings), 0) << port.getLastErrorString();
  port.flush();
}

std::unique_ptr<qmx::SerialPort> SerialPortTest::OpenLine(unsigned baud) {
  auto port = std::make_unique<qmx::SerialPort>(pty_.name().c_str());
  EXPECT_TRUE(port->is_open()) << port->getLastErrorString();
  if (port->is_open()) SetUpLine(*port, baud);
  return port;
}

}  // namespace mrl_test
