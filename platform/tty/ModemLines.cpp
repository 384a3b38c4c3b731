#include "platform/tty/ModemLines.h"

#include "platform/registry/PortRegistry.h"

#include <csignal>
#include <iterator>
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

// Only async-signal-safe calls: the ioctl, then the signal's own action again.
void endLoopAndDie(int signal)
{
    auto& loop = PortRegistry::instance().loopMode();
    setLine(loop.port.exchange(-1), kLoop, false);
    for (size_t i = 0; i < std::size(loop.kSignals); ++i)
        if (loop.kSignals[i] == signal)
            sigaction(signal, &loop.previous[i], nullptr);
    raise(signal);
}

// The signals that end the process end loop mode first; an ignored one stays ignored. A broken
// pipe (a reader that stopped early) is ignored meanwhile, so that the write fails and the run ends
// its own way.
void guardLoopMode(PortRegistry::LoopMode& loop)
{
    for (size_t i = 0; i < std::size(loop.kSignals); ++i) {
        struct sigaction action { };
        action.sa_handler = loop.kSignals[i] == SIGPIPE ? SIG_IGN : endLoopAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(loop.kSignals[i], &action, &loop.previous[i]);
        if (loop.previous[i].sa_handler == SIG_IGN)
            sigaction(loop.kSignals[i], &loop.previous[i], nullptr);
    }
}

void unguardLoopMode(PortRegistry::LoopMode& loop)
{
    for (size_t i = 0; i < std::size(loop.kSignals); ++i)
        sigaction(loop.kSignals[i], &loop.previous[i], nullptr);
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
    guardLoopMode(loop);
    // Drivers without loop mode ignore the bit (ftdi_sio) or refuse the call (a pty).
    if (setLine(port, kLoop, true) && inLoopMode(port))
        return true;
    endLoopMode(port);
    return false;
}

void endLoopMode(PortHandle port)
{
    auto& loop = PortRegistry::instance().loopMode();
    if (!isPort(port) || loop.port.load() != port)
        return;
    // First: a signal between the two finds the port still named, and clears it too.
    setLine(port, kLoop, false);
    int expected = port;
    if (loop.port.compare_exchange_strong(expected, -1))
        unguardLoopMode(loop);
}

bool inLoopMode(PortHandle port)
{
    int lines = 0;
    return isPort(port) && ioctl(port, TIOCMGET, &lines) == 0 && (lines & kLoop) != 0;
}

void clearLoopMode(PortHandle port)
{
    setLine(port, kLoop, false);
}

} // namespace platform
