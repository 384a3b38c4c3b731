// What a UART has and no pty does, lent to every pty while a test asks: modem lines, loop mode and
// error counters. The test program that links FakeUart.cpp takes the C library's ioctl for its own.
#pragma once

struct FakeUart {
    // Off: ptys as they are. Plug: a loop-back plug joins RTS to CTS and RI, DTR to DSR and DCD. Noisy: no
    // cable, and each read of the error counters finds frame 1, parity 2 ... buffer overrun 5 more.
    enum class Wiring { Off, Plug, Noisy } wiring = Wiring::Off;
    int outputs = 0; // the modem-control bits set, loop mode's among them
    int counterReads = 0;
};
extern FakeUart fakeUart;
