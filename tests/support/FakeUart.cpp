#include "support/FakeUart.h"

#include <cstdarg>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

constexpr int kOut2 = 0x4000, kLoop = 0x8000; // asm-generic/termios.h clashes with the C library's

// The inputs that the outputs drive: inside the chip in loop mode, else through the plug if any.
static int inputsOf(int out)
{
    const auto follow = [out](int output, int inputs) { return (out & output) ? inputs : 0; };
    if (out & kLoop)
        return follow(TIOCM_RTS, TIOCM_CTS) | follow(TIOCM_DTR, TIOCM_DSR) | follow(kOut2, TIOCM_CAR);
    const bool plug = fakeUart.wiring == FakeUart::Wiring::Plug;
    return plug ? follow(TIOCM_RTS, TIOCM_CTS | TIOCM_RNG) | follow(TIOCM_DTR, TIOCM_DSR | TIOCM_CAR) : 0;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list rest;
    va_start(rest, request);
    void* const argument = va_arg(rest, void*);
    va_end(rest);
    const bool uartCall
        = request == TIOCMBIS || request == TIOCMBIC || request == TIOCMGET || request == TIOCGICOUNT;
    struct stat node { }; // lent to pty slaves only; the rest goes to the kernel
    if (!uartCall || fakeUart.wiring == FakeUart::Wiring::Off || fstat(fd, &node) != 0
        || major(node.st_rdev) != 136)
        return static_cast<int>(syscall(SYS_ioctl, fd, request, argument));
    int* const bits = static_cast<int*>(argument);
    if (request == TIOCMBIS)
        fakeUart.outputs |= *bits;
    else if (request == TIOCMBIC)
        fakeUart.outputs &= ~*bits;
    else if (request == TIOCMGET)
        *bits = fakeUart.outputs | inputsOf(fakeUart.outputs);
    else { // from where an int wraps: cts, dsr, rng, dcd, rx, tx; frame, overrun, parity, brk, buf_overrun
        const int n = fakeUart.wiring == FakeUart::Wiring::Noisy ? fakeUart.counterReads++ : 0;
        *static_cast<serial_icounter_struct*>(argument)
            = { 0, 0, 0, 0, 0, 0, n - 1, 3 * n - 1, 2 * n - 1, 4 * n - 1, 5 * n - 1, {} };
    }
    return 0;
}
