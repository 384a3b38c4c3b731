// The loop-back self-test: a pattern exchanged at every line setting that the settings dialog
// offers, then the modem line loops of a loop-back plug.
#pragma once

#include "platform/tty/SerialPort.h"

#include <cstdint>
#include <string>
#include <vector>

namespace headless {

// Every combination of the dialog's baud rates, parities, data bits and stop bits, in the order
// the rows run: by baud rate, then parity, then data bits, then stop bits.
std::vector<platform::LineSettings> selfTestSettings();

// The bytes a row sends at byteSize data bits: a fixed pattern masked to that many bits. It holds
// no XON or XOFF at any size, so that flow control left on cannot swallow it.
std::string selfTestPattern(uint8_t byteSize);

} // namespace headless
