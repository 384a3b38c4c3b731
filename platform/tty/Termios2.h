// Internal to the serial port layer (SerialPort.h).
// Reading and writing a tty's settings through termios2, which carries any speed the driver takes.
// Only Termios2.cpp sees the kernel's header; everyone else works on LineBits.
#pragma once

#include "platform/tty/LineBits.h"

namespace platform {

// Reads the settings of fd; false (out untouched) when they cannot be read.
bool readLineBits(int fd, LineBits& out);

// Writes the settings at once (no drain); false when the driver refused them. Say nothing of what
// the driver really took: read them back for that.
bool writeLineBits(int fd, const LineBits& bits);

} // namespace platform
