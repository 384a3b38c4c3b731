// The line settings in the program's own codes: the one form that the window, the settings file,
// the headless commands and the port layer share.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace platform {

// parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two; data
// bits 5 to 8. A default-made one holds the program's defaults: COM1 at 19200 baud, 8N1.
struct LineSettings {
    uint32_t baudRate = 19200;
    uint8_t parity = 0;
    uint8_t byteSize = 8;
    uint8_t stopBits = 0;
    std::string portName = "COM1"; // the port layer neither reads nor sets it
};

inline const LineSettings kDefaultLineSettings {};

// The speed as the line takes it: the rate truncated toward zero to 32 bits (0 when it has none).
// A double outside that range has no defined conversion, so it is clamped first.
inline uint32_t lineSpeed(double baudRate)
{
    if (!(baudRate >= 1.0)) // also NaN
        return 0;
    if (baudRate >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(std::trunc(baudRate));
}

// Bits on the wire per character: start, data, parity and stop bits.
inline int bitsPerCharacter(const LineSettings& settings)
{
    return 1 + settings.byteSize + (settings.parity != 0 ? 1 : 0) + (settings.stopBits == 2 ? 2 : 1);
}

} // namespace platform
