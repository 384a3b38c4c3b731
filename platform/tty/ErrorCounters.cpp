#include "platform/tty/ErrorCounters.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace platform {

namespace {

// The kernel keeps them as int; a rise is taken modulo 2^32.
uint64_t rise(uint64_t now, uint64_t then)
{
    return static_cast<uint32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(then));
}

} // namespace

ErrorCounters ErrorCounters::since(const ErrorCounters& earlier) const
{
    return { rise(frame, earlier.frame), rise(parity, earlier.parity), rise(overrun, earlier.overrun),
        rise(breaks, earlier.breaks), rise(bufferOverrun, earlier.bufferOverrun) };
}

std::optional<ErrorCounters> readErrorCounters(PortHandle port)
{
    serial_icounter_struct counts {};
    if (!isPort(port) || ioctl(port, TIOCGICOUNT, &counts) != 0)
        return std::nullopt;
    const auto count = [](int value) { return static_cast<uint64_t>(static_cast<uint32_t>(value)); };
    return ErrorCounters { count(counts.frame), count(counts.parity), count(counts.overrun),
        count(counts.brk), count(counts.buf_overrun) };
}

} // namespace platform
