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
//   driverFacts       what the port's driver tells of its hardware
//   hardwareRefusal   why the hardware would not run these settings, or nothing
#pragma once

#include "platform/tty/SerialPort.h"

#include <optional>
#include <string>

namespace platform {

struct DriverFacts {
    enum class Kind { Other, Uart8250, Ftdi } kind = Kind::Other;
    int uartType = 0; // the 8250 driver's chip type (PORT_16550A, ...)
    int baudBase = 0; // its base clock over 16
    bool magicMultiplier = false; // a chip that runs past its base
};

DriverFacts driverFacts(PortHandle port);

// The reason, with the rate the hardware would really run where that is known, e.g. "the UART runs
// 12800 baud for 12345 (3.7 % off)".
std::optional<std::string> hardwareRefusal(const DriverFacts& facts, const LineSettings& settings);
std::optional<std::string> hardwareRefusal(PortHandle port, const LineSettings& settings);

} // namespace platform
