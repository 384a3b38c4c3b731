// The driver's own count of line errors on a port, kept by the kernel since the device appeared.
//
// Principles of operation
//   A UART driver (8250, ftdi_sio and others) counts the framing, parity and overrun errors, the
//   breaks and the bytes dropped because its buffer was full. Nobody resets them; a run reads them
//   at its start and its end and reports the difference. A driver without them (a pty) offers
//   none: the read then gives nothing, and nothing is changed.
//
// Interface summary
//   readErrorCounters   the counters now; nothing when the driver has none
#pragma once

#include "platform/tty/SerialPort.h"

#include <cstdint>
#include <optional>

namespace platform {

struct ErrorCounters {
    uint64_t frame = 0;
    uint64_t parity = 0;
    uint64_t overrun = 0;
    uint64_t breaks = 0;
    uint64_t bufferOverrun = 0;

    // Each counter's rise from earlier to this (a counter that wrapped counts its rise mod 2^32).
    ErrorCounters since(const ErrorCounters& earlier) const;
    bool any() const { return frame + parity + overrun + breaks + bufferOverrun != 0; }
};

std::optional<ErrorCounters> readErrorCounters(PortHandle port);

} // namespace platform
