// Internal to the serial port layer (SerialPort.h).
// What a serial driver takes but its hardware does not run, for the drivers that tell enough.
//
// Principles of operation
//   termios shows what the driver keeps, not what the chip does. Two drivers are known well enough
//   to tell the difference:
//   - the 8250 driver (tty major 4) reports its base clock (TIOCGSERIAL baud_base); an 8250 to
//     16550A UART runs the rate that the nearest whole divisor of it gives: 12345 baud runs at
//     12800;
//   - ftdi_sio keeps 5 data bits in termios while the chip sends 8, and its 14-bit divisor wraps
//     below 183 baud (110 runs at about 275).
//   A rate more than 2 % off the asked one garbles a link, and a fall-back is never what was asked:
//   both are refusals. For any other driver nothing is known, and nothing is said.
//
// Interface summary
//   hardwareRefusal   why the hardware would not run these settings, or nothing
#pragma once

#include "platform/tty/SerialPort.h"

#include <optional>
#include <string>

namespace platform {

// The reason, with the rate the hardware would really run where that is known, e.g. "the UART runs
// 12800 baud for 12345 (3.7 % off)".
std::optional<std::string> hardwareRefusal(PortHandle port, const LineSettings& settings);

} // namespace platform
