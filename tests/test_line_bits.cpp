// The termios words the port layer writes, and how it judges what the driver reports back.
#include "platform/tty/DriverLimits.h"
#include "platform/tty/LineBits.h"

#include <gtest/gtest.h>

#include <linux/serial.h>

#include <set>
#include <termios.h>

using namespace platform;

// What another program may leave: all framing bits, flow control, a cooked line, blocking reads.
static const LineBits kLeft { ICRNL | BRKINT | IXON | IXOFF | IXANY | INPCK, OPOST | ONLCR,
    B2400 | (B1200 << kInputSpeedShift) | CS5 | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | HUPCL,
    ICANON | ECHO | ISIG, 0, { 0, 0, 0, 0, 0, 5, 1, 0, 0x11 }, 2400, 2400 };

// Every code, with or without a termios form: each field whole, flow control kept, the rest raw.
TEST(LineBits, EachCodeBuildsItsBitsAndKeepsFlowControl)
{
    constexpr uint32_t kSize[] = { CS5, CS6, CS7, CS8 };
    constexpr uint32_t kParity[] = { 0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR };
    for (uint8_t parity = 0; parity <= 5; ++parity)
        for (uint8_t size = 4; size <= 9; ++size)
            for (uint8_t stop = 0; stop <= 3; ++stop) {
                const int code = parity * 100 + size * 10 + stop;
                SCOPED_TRACE(code);
                const auto line = buildLine(kLeft, { 19200, parity, size, stop });
                ASSERT_EQ(line.has_value(), parity <= 4 && size >= 5 && size <= 8 && stop % 2 == 0);
                if (!line)
                    continue;
                EXPECT_EQ(line->cflag & ~CBAUD,
                    kSize[size - 5] | kParity[parity] | (stop ? CSTOPB : 0) | CRTSCTS | CLOCAL | HUPCL
                        | CREAD);
                EXPECT_EQ(line->iflag, uint32_t(IXON | IXOFF | IXANY | INPCK));
                EXPECT_EQ(line->oflag | line->lflag | line->cc[VMIN] | line->cc[VTIME], 0u) << "raw, no wait";
                EXPECT_EQ(line->cc[VSTART], 0x11);
                const LineSettings read = describeLine(*line);
                EXPECT_EQ(read.parity * 100 + read.byteSize * 10 + read.stopBits, code);
                EXPECT_EQ(bitsPerCharacter(*line), 1 + size + (parity ? 1 : 0) + (stop ? 2 : 1));
            }
    // A standard speed has its own constant, any other goes in the field; the input speed follows.
    std::set<uint32_t> constants;
    for (const uint32_t baud : { 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200,
             38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000,
             2500000, 3000000, 3500000, 4000000, 1, 12345, 4000001, 0 }) {
        const auto line = buildLine(kLeft, { baud, 0, 8, 0 });
        ASSERT_EQ(line.has_value(), baud != 0) << baud;
        if (!line)
            continue;
        const uint32_t field = line->cflag & (CBAUD | CIBAUD);
        const bool inField = baud == 1 || baud == 12345 || baud == 4000001;
        EXPECT_EQ(field == kSpeedInField, inField) << baud << " goes in the field";
        EXPECT_EQ(inField ? true : constants.insert(field).second, true)
            << baud << " has a constant of its own";
        EXPECT_EQ(outputSpeed(*line) + inputSpeed(*line) + describeLine(*line).baudRate, 3 * baud)
            << baud << " reads back";
    }
}

// A speed within 2 % however encoded is taken, and a pty's forced bits; anything else is refused.
TEST(LineBits, ReadBackAcceptsWhatMeansTheSameAndThePtysForcedBitsOnly)
{
    using Row = std::tuple<const char*, LineSettings, uint32_t LineBits::*, uint32_t, uint32_t, bool, bool>;
    const Row rows[] = {
        { "identical", { 19200, 2, 7, 2 }, &LineBits::cflag, 0, 0, true, true },
        { "constant as field", { 19200, 0, 8, 0 }, &LineBits::cflag, CBAUD, kSpeedInField, true, true },
        { "constant, speed word 0", { 38400, 0, 8, 0 }, &LineBits::ospeed, ~0u, 0, true, true },
        { "2 % above", { 10000, 0, 8, 0 }, &LineBits::ospeed, ~0u, 10200, true, true },
        { "past 2 % above", { 10000, 0, 8, 0 }, &LineBits::ospeed, ~0u, 10201, false, false },
        { "own input speed", { 19200, 0, 8, 0 }, &LineBits::cflag, 0, B9600 << kInputSpeedShift, false,
            false },
        { "8 data bits for 7", { 19200, 0, 7, 0 }, &LineBits::cflag, CSIZE, CS8, false, true },
        { "parity generation off", { 19200, 3, 8, 0 }, &LineBits::cflag, PARENB, 0, false, true },
        { "parity on for none", { 19200, 0, 8, 0 }, &LineBits::cflag, 0, PARENB, false, false },
        { "sticky lost", { 19200, 4, 8, 0 }, &LineBits::cflag, PARENB | CMSPAR, 0, false, false },
        { "stop bit lost", { 19200, 0, 8, 2 }, &LineBits::cflag, CSTOPB, 0, false, false },
        { "CR/LF translation", { 19200, 0, 8, 0 }, &LineBits::iflag, 0, ICRNL, false, false },
    };
    for (const auto& [what, settings, word, clear, set, onPort, onPty] : rows) {
        const LineBits asked = *buildLine(kLeft, settings);
        LineBits got = asked;
        got.*word = (got.*word & ~clear) | set;
        EXPECT_EQ(readBackAccepted(asked, got, false), onPort) << what << " on a port";
        EXPECT_EQ(readBackAccepted(asked, got, true), onPty) << what << " on a pty";
    }
}

// What a 16550-class UART, other 8250 chips and an FTDI chip really run (below 183 baud its divisor
// wraps, each eighth of it coded its own way); nothing is said elsewhere.
TEST(DriverLimits, RefuseWhatTheHardwareWouldRunOtherwise)
{
    using enum DriverFacts::Kind;
    const DriverFacts uart { Uart8250, PORT_16550A, 115200 }, ftdi { Ftdi };
    const std::tuple<DriverFacts, LineSettings, std::string> rows[] = {
        { uart, { 12345 }, "the UART runs 12800 baud for 12345 (3.7 % off)" }, { uart, { 9600 }, "" },
        { uart, { 1 }, "the UART cannot run 1 baud" }, { uart, { 460800 }, "" },
        { { Uart8250, PORT_16650, 115200 }, { 12345 }, "" },
        { { Uart8250, PORT_UNKNOWN, 115200 }, { 12345 }, "" },
        { { Uart8250, PORT_8250, 115200 }, { 12345 }, "the UART runs 12800 baud for 12345 (3.7 % off)" },
        { { Uart8250, PORT_16550A, 115200, true }, { 12345 }, "" },
        { ftdi, { 9600, 0, 5 }, "ftdi_sio sends 8 data bits when 5 are asked" },
        { ftdi, { 110 }, "ftdi_sio runs 276 baud for 110 (150.5 % off)" }, { ftdi, { 300 }, "" },
        { ftdi, { 1100 }, "" }, { ftdi, { 50 }, "ftdi_sio runs 277 baud for 50 (453.1 % off)" },
        { ftdi, { 58 }, "ftdi_sio runs 1166 baud for 58 (1910.9 % off)" },
        { ftdi, { 52 }, "ftdi_sio runs 351 baud for 52 (575.5 % off)" },
        { ftdi, { 46 }, "ftdi_sio runs 187 baud for 46 (305.9 % off)" },
        { ftdi, { 49 }, "ftdi_sio runs 249 baud for 49 (407.2 % off)" },
        { ftdi, { 68 }, "ftdi_sio runs 264 baud for 68 (288.7 % off)" },
        { ftdi, { 178 }, "ftdi_sio runs 6385 baud for 178 (3486.9 % off)" }, { {}, { 110 }, "" },
        { ftdi, { 0 }, "" }
    };
    for (const auto& [facts, settings, refusal] : rows)
        EXPECT_EQ(hardwareRefusal(facts, settings).value_or(""), refusal) << settings.baudRate << " baud";
}
