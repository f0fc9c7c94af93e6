#pragma once
// A simulated board and the product's own serial port on it, set up the way the
// program sets up a line, with the protocol base over it.

#include <chrono>

#include "link/GenericPortProtocol.h"
#include "port/LineSetup.h"
#include "port/SerialPort.h"
#include "support/ConsoleCapture.h"
#include "support/SimulatedBoard.h"

namespace mrl_test {

struct BoardLink {
  explicit BoardLink(BoardConfig config = {},
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
      : board(std::move(config)),
        port(board.device().c_str()),
        protocol(port, timeout, console.console()) {
    qmx::SetUpBoardLine(port, 115200);
  }

  SimulatedBoard board;
  qmx::SerialPort port;
  ConsoleCapture console;  // what the protocols told the user
  GenericPortProtocol protocol;
};

// A configuration whose board starts in the given program.
inline BoardConfig Running(Program program) {
  BoardConfig config;
  config.initial_program = program;
  return config;
}

}  // namespace mrl_test
