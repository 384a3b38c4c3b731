// Waiting for a port's input without spinning.
#pragma once

#include "platform/tty/SerialPort.h"

#include <chrono>

namespace platform {

// Returns true as soon as bytes are waiting to be read; false once the deadline has passed, or at
// once when the device is gone (hung up) or the handle is no port. Reads nothing.
bool waitForInput(PortHandle port, std::chrono::steady_clock::time_point deadline);

} // namespace platform
