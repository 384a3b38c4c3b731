#include "platform/tty/ModemLines.h"

#include "platform/registry/PortRegistry.h"

#include <sys/ioctl.h>

namespace platform {

namespace {

// Linux's modem-control bits for a UART's auxiliary output and loop mode (asm-generic/termios.h,
// which clashes with the C library's own definitions).
constexpr int kOut2 = 0x4000;
constexpr int kLoop = 0x8000;

bool setLine(PortHandle port, int line, bool on)
{
    return isPort(port) && ioctl(port, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

std::optional<int> readLines(PortHandle port)
{
    int lines {};
    if (!isPort(port) || ioctl(port, TIOCMGET, &lines) != 0)
        return std::nullopt;
    return lines;
}

} // namespace

std::optional<ModemInputs> readModemInputs(PortHandle port)
{
    const auto lines = readLines(port);
    if (!lines)
        return std::nullopt;
    return ModemInputs { (*lines & TIOCM_CTS) != 0, (*lines & TIOCM_DSR) != 0, (*lines & TIOCM_CAR) != 0,
        (*lines & TIOCM_RNG) != 0 };
}

std::optional<ModemOutputs> readModemOutputs(PortHandle port)
{
    const auto lines = readLines(port);
    if (!lines)
        return std::nullopt;
    return ModemOutputs { (*lines & TIOCM_RTS) != 0, (*lines & TIOCM_DTR) != 0 };
}

bool setRequestToSend(PortHandle port, bool on)
{
    return setLine(port, TIOCM_RTS, on);
}

bool setDataTerminalReady(PortHandle port, bool on)
{
    return setLine(port, TIOCM_DTR, on);
}

bool setOut2(PortHandle port, bool on)
{
    return setLine(port, kOut2, on);
}

bool startLoopMode(PortHandle port)
{
    auto& loopPort = PortRegistry::instance().exitRecord().loopPort;
    int expected = -1;
    if (!isPort(port) || !loopPort.compare_exchange_strong(expected, port))
        return false;
    // Drivers without loop mode ignore the bit (ftdi_sio) or refuse the call (a pty).
    if (setLine(port, kLoop, true) && inLoopMode(port))
        return true;
    endLoopMode(port);
    return false;
}

void endLoopMode(PortHandle port)
{
    auto& loopPort = PortRegistry::instance().exitRecord().loopPort;
    if (!isPort(port) || loopPort.load() != port)
        return;
    // First: a signal between the two finds the port still named, and clears it too.
    setLine(port, kLoop, false);
    loopPort.compare_exchange_strong(port, -1);
}

bool inLoopMode(PortHandle port)
{
    int lines {};
    return isPort(port) && ioctl(port, TIOCMGET, &lines) == 0 && (lines & kLoop) != 0;
}

void clearLoopMode(PortHandle port)
{
    setLine(port, kLoop, false);
}

} // namespace platform
