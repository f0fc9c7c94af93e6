#pragma once
// The product's serial port on the terminal side of a pseudo-terminal pair,
// set up the way the program sets up a line; the test plays the board.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PtyPair.h"
#include "port/SerialPort.h"

namespace mrl_test {

// The port's text for a failure with this errno: "Error <n>: <system text>".
std::string ErrorString(int error);

// Sets the line up the way the program does before it talks to a board.
void SetUpLine(qmx::SerialPort& port, unsigned baud);

class SerialPortTest : public ::testing::Test {
 protected:
  std::unique_ptr<qmx::SerialPort> OpenLine(unsigned baud = 115200);

  PtyPair pty_;
};

}  // namespace mrl_test
