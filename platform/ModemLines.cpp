#include "ModemLines.h"

#include <sys/ioctl.h>

namespace platform {

namespace {

bool setLine(PortHandle port, int line, bool on)
{
    return isPort(port) && ioctl(port, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

} // namespace

std::optional<ModemInputs> readModemInputs(PortHandle port)
{
    int lines = 0;
    if (!isPort(port) || ioctl(port, TIOCMGET, &lines) != 0)
        return std::nullopt;
    return ModemInputs { (lines & TIOCM_CTS) != 0, (lines & TIOCM_DSR) != 0, (lines & TIOCM_CAR) != 0 };
}

bool setRequestToSend(PortHandle port, bool on)
{
    return setLine(port, TIOCM_RTS, on);
}

bool setDataTerminalReady(PortHandle port, bool on)
{
    return setLine(port, TIOCM_DTR, on);
}

} // namespace platform
