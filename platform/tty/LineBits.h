// Internal to the serial port layer (SerialPort.h).
// The line settings of a tty as raw termios words, held in a struct of our own so that the code that
// builds and checks them needs neither <termios.h> nor the kernel's termios2 header (the two clash).
//
// buildLine and readBackAccepted are pure: they see only these words, never a descriptor, so the
// tests check every bit they produce without a device.
#pragma once

#include "platform/tty/SerialPort.h"

#include <array>
#include <cstdint>
#include <optional>

namespace platform {

// Speed field value meaning "the speed is in ispeed/ospeed" (the kernel's BOTHER), and the shift
// from the output speed field to the input speed field (IBSHIFT); glibc's <termios.h> has neither.
inline constexpr uint32_t kSpeedInField = 0x1000;
inline constexpr uint32_t kInputSpeedShift = 16;
// Control characters of the kernel's termios2.
inline constexpr int kControlChars = 19;

struct LineBits {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint8_t line = 0;
    std::array<uint8_t, kControlChars> cc {};
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
};

// The new words: speed, parity, data bits and stop bits from settings, each field whole; flow
// control, CLOCAL, HUPCL and the parity-check flag kept from current; every other processing off,
// and reads that return at once with what is waiting. nullopt when a value has no termios form.
std::optional<LineBits> buildLine(const LineBits& current, const LineSettings& settings);

// Whether what the port reports (got) means what was written (wanted). A speed within 2 % counts
// as taken (a UART's divisor rounds) however it is encoded; on a pseudo-terminal the forced 8 data
// bits and parity generation off count as taken. Any other difference is a refusal.
bool readBackAccepted(const LineBits& wanted, const LineBits& got, bool isPseudoTerminal);

// The output and input speeds in bits per second, whichever way they are encoded (0 if unknown).
uint32_t outputSpeed(const LineBits& bits);
uint32_t inputSpeed(const LineBits& bits);

// The settings the words stand for, in the program's codes.
LineSettings describeLine(const LineBits& bits);

// Bits on the wire per character: start, data, parity and stop bits.
int bitsPerCharacter(const LineBits& bits);

} // namespace platform
