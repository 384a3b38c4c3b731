// What a UART has and no pty does, lent to every pty slave while a test asks: modem lines, loop mode and
// error counters. A test program that links FakeUart.cpp has its ioctl in place of the C library's.
#pragma once

struct FakeUart {
    // Plug: a loop-back plug joins RTS to CTS and RI, DTR to DSR and DCD. Noisy: no cable, and each
    // read of the error counters finds frame 1, parity 2, overrun 3, break 4 and buffer overrun 5 more.
    enum class Wiring { Off, Plug, Noisy } wiring = Wiring::Off;
    int outputs = 0; // the modem-control bits set, loop mode's among them
    int counterReads = 0;
} inline fakeUart;
