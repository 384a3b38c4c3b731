#include "ModemLines.h"

#include "PortRegistry.h"

#include <csignal>
#include <sys/ioctl.h>

namespace platform {

namespace {

// Linux's modem-control bits for a UART's auxiliary output and loop mode (asm-generic/termios.h,
// which clashes with the C library's own definitions).
constexpr int kOut2 = 0x4000;
constexpr int kLoop = 0x8000;

void clearLoopBit(int port)
{
    int loop = kLoop;
    ioctl(port, TIOCMBIC, &loop);
}

// Only async-signal-safe calls: the ioctl, then the default action again.
void endLoopAndDie(int signal)
{
    const int port = PortRegistry::instance().loopMode().port.exchange(-1);
    if (port >= 0)
        clearLoopBit(port);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

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

bool setOut2(PortHandle port, bool on)
{
    return setLine(port, kOut2, on);
}

bool startLoopMode(PortHandle port)
{
    auto& loop = PortRegistry::instance().loopMode();
    int expected = -1;
    if (!isPort(port) || !loop.port.compare_exchange_strong(expected, port))
        return false;
    struct sigaction onSignal { };
    onSignal.sa_handler = endLoopAndDie;
    sigemptyset(&onSignal.sa_mask);
    sigaction(SIGINT, &onSignal, &loop.previousInterrupt);
    sigaction(SIGTERM, &onSignal, &loop.previousTerminate);
    int lines = 0;
    // Drivers without loop mode ignore the bit (ftdi_sio) or refuse the call (a pty).
    if (setLine(port, kLoop, true) && ioctl(port, TIOCMGET, &lines) == 0 && (lines & kLoop))
        return true;
    endLoopMode(port);
    return false;
}

void endLoopMode(PortHandle port)
{
    auto& loop = PortRegistry::instance().loopMode();
    int expected = port;
    if (!isPort(port) || !loop.port.compare_exchange_strong(expected, -1))
        return;
    clearLoopBit(port);
    sigaction(SIGINT, &loop.previousInterrupt, nullptr);
    sigaction(SIGTERM, &loop.previousTerminate, nullptr);
}

bool inLoopMode(PortHandle port)
{
    int lines = 0;
    return isPort(port) && ioctl(port, TIOCMGET, &lines) == 0 && (lines & kLoop) != 0;
}

void clearLoopMode(PortHandle port)
{
    if (isPort(port))
        clearLoopBit(port);
}

} // namespace platform
