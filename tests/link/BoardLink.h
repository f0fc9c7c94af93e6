#pragma once
// A simulated board and the product's own serial port on it, set up the way the
// program sets up a line, with the protocol base over it.

#include <chrono>

#include "link/GenericPortProtocol.h"
#include "port/SerialPort.h"
#include "support/SimulatedBoard.h"

namespace mrl_test {

// Sets the line up the way the program does before it talks to a board.
inline void SetUpLine(qmx::SerialPort& port) {
  port.set_RTS(false);
  qmx::SerialLineSettings settings = port.get_state();
  settings.set_baud_rate(115200);
  settings.set_raw_8N1();
  settings.disable_flow_control();
  settings.disable_line_control();
  port.set_state(settings);
  port.flush();
}

struct BoardLink {
  explicit BoardLink(BoardConfig config = {},
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
      : board(std::move(config)), port(board.device().c_str()), protocol(port, timeout) {
    SetUpLine(port);
  }

  SimulatedBoard board;
  qmx::SerialPort port;
  GenericPortProtocol protocol;
};

// A configuration whose board starts in the given program.
inline BoardConfig Running(Program program) {
  BoardConfig config;
  config.initial_program = program;
  return config;
}

}  // namespace mrl_test
