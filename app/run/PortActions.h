#pragma once
// The actions that deal with the link itself: check that a port was named,
// list the HID devices, open the serial port or the HID bridge, send a HID
// command, start the Belto LS GX2 passthrough and reset the board. Each runs
// on the main thread, returns its failure as its result and prints what the
// run loop does not.

#include <boost/program_options/variables_map.hpp>

#include "link/Error.h"
#include "run/RunState.h"

namespace mrl {

// Success when `dev` or `hid` was given, else kNoPortSpecified; prints nothing.
Result CheckPortGiven(const boost::program_options::variables_map& vm);
// "Available HID Devices:", then manufacturer, product and VID:PID:SN of each
// device on the console; the device list's error (6, 8) prints nothing.
Result ListHidDevices(const qmx::Console& console);
// Opens `dev` and sets the line up at exactly `baud` (raw 8N1, no flow
// control, DTR and RTS low), then creates the port protocol with `timeout`.
// A port that does not open: "Cannot open <dev>: <reason>" on the console's
// error stream (busy or held by another program, no such file, permission
// denied, ...), then GenericPort error 1; the state keeps what it had.
Result OpenSerialPort(RunState& state);
// Opens the HID bridge named by `hid`, with the Vesta report ids when
// `mordell` was given, then creates the port protocol with `timeout`. A
// device that does not open: "Cannot open HID device <hid>: <reason>" when
// hidapi gives a reason, then GenericPort error 1.
Result OpenHidPort(RunState& state, const boost::program_options::variables_map& vm);
// Sends the low byte of `hid_cmd` on the port's command channel; a refusal
// is GenericPort error 3.
Result SendHidCommand(RunState& state);
// Turns `belto_ls_pt_gpio` ("A3=1,B0=0": comma-separated items of a letter A-J, a digit
// 0-7, '=' and 0 or 1) into passthrough commands; the first ill-formed item
// ends it with kBadPassthroughCommand, keeping the commands before it.
Result ParsePassthroughGpio(RunState& state);
// Resets the board, downloads the passthrough image to its RAM and hands it
// the passthrough commands and the end record.
Result StartBeltoLsGx2Passthrough(RunState& state);
// Resets the board through the port's lines, or behind the passthrough
// (belto_ls_gx2) through the loader's reset command, whose failure it returns.
Result ResetBoard(RunState& state, bool belto_ls_gx2);

}  // namespace mrl
