#pragma once
#include "port/SerialPort.h"

namespace qmx {

// Sets the line up for talking to a board: RTS lowered first, then exactly baud
// bits per second in both directions, raw 8 data bits, no parity, one stop bit,
// no hardware or software flow control, DTR and RTS held low and left alone on
// close; then both buffers are discarded. The steps' results are not examined:
// a port that opened counts as set up. Call it on the thread that owns the port.
void SetUpBoardLine(SerialPort& port, unsigned baud);

}  // namespace qmx
