#pragma once
// A run state whose port is the product's serial port on a simulated board,
// set up the way the program sets up a line, with the console captured.

#include <chrono>
#include <memory>

#include "link/GenericPortProtocol.h"
#include "port/LineSetup.h"
#include "port/SerialPort.h"
#include "run/RunState.h"
#include "support/ConsoleCapture.h"
#include "support/SimulatedBoard.h"

namespace mrl_test {

struct BoardSession {
  explicit BoardSession(BoardConfig config = {},
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
      : board(std::move(config)) {
    auto serial = std::make_unique<qmx::SerialPort>(board.device().c_str());
    qmx::SetUpBoardLine(*serial, 115200);
    state.port = std::move(serial);
    state.port_protocol =
        std::make_unique<GenericPortProtocol>(*state.port, timeout, console.console());
  }

  SimulatedBoard board;
  ConsoleCapture console;
  mrl::RunState state{console.console()};
};

}  // namespace mrl_test
