#include "platform/tty/LineBits.h"

#include <termios.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace platform {

namespace {

static_assert(VMIN < kControlChars && VTIME < kControlChars);
static_assert((CBAUD & kSpeedInField) != 0 && ((CBAUD << kInputSpeedShift) & CIBAUD) == CIBAUD);

constexpr std::pair<uint32_t, uint32_t> kStandardSpeeds[] = {
    { B50, 50 },
    { B75, 75 },
    { B110, 110 },
    { B134, 134 },
    { B150, 150 },
    { B200, 200 },
    { B300, 300 },
    { B600, 600 },
    { B1200, 1200 },
    { B1800, 1800 },
    { B2400, 2400 },
    { B4800, 4800 },
    { B9600, 9600 },
    { B19200, 19200 },
    { B38400, 38400 },
    { B57600, 57600 },
    { B115200, 115200 },
    { B230400, 230400 },
    { B460800, 460800 },
    { B500000, 500000 },
    { B576000, 576000 },
    { B921600, 921600 },
    { B1000000, 1000000 },
    { B1152000, 1152000 },
    { B1500000, 1500000 },
    { B2000000, 2000000 },
    { B2500000, 2500000 },
    { B3000000, 3000000 },
    { B3500000, 3500000 },
    { B4000000, 4000000 },
};

// The speed a speed field stands for; fieldSpeed is the value of the matching speed word.
uint32_t decodeSpeed(uint32_t code, uint32_t fieldSpeed)
{
    if (code == kSpeedInField)
        return fieldSpeed;
    for (const auto& [constant, speed] : kStandardSpeeds)
        if (constant == code)
            return speed;
    return 0;
}

// The standard constant when there is one (what every driver knows), else the speed in the field.
uint32_t encodeSpeed(uint32_t baud)
{
    for (const auto& [constant, speed] : kStandardSpeeds)
        if (speed == baud)
            return constant;
    return kSpeedInField;
}

bool hasTermiosForm(const LineSettings& s)
{
    return s.baudRate != 0 && s.parity <= 4 && s.byteSize >= 5 && s.byteSize <= 8
        && (s.stopBits == 0 || s.stopBits == 2);
}

// Indexed by data bits less 5 and by parity code. Mark and space are "sticky" parity (CMSPAR):
// PARODD then selects a 1 (mark) or a 0 (space).
constexpr uint32_t kSizeBits[] = { CS5, CS6, CS7, CS8 };
constexpr uint32_t kParityBits[] = { 0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR };

// The index of the table entry equal to bits (every value a mask leaves is in its table).
template <size_t N> uint8_t codeOf(const uint32_t (&table)[N], uint32_t bits)
{
    return static_cast<uint8_t>(std::find(std::begin(table), std::end(table), bits) - std::begin(table));
}

bool speedsMatch(uint32_t wanted, uint32_t got)
{
    if (wanted == 0 || got == 0)
        return false;
    const uint64_t difference = wanted > got ? wanted - got : got - wanted;
    return difference * 100 <= uint64_t { wanted } * 2;
}

bool sizeMatches(const LineBits& wanted, const LineBits& got, bool isPty)
{
    const uint32_t gotSize = got.cflag & CSIZE;
    return (wanted.cflag & CSIZE) == gotSize || (isPty && gotSize == CS8);
}

// A pty clears PARENB but keeps PARODD and CMSPAR; with parity off those two mean nothing.
bool parityMatches(const LineBits& wanted, const LineBits& got, bool isPty)
{
    const bool gotOn = got.cflag & PARENB;
    if (!(wanted.cflag & PARENB))
        return !gotOn;
    if (!gotOn && !isPty)
        return false;
    return (wanted.cflag & (PARODD | CMSPAR)) == (got.cflag & (PARODD | CMSPAR));
}

} // namespace

std::optional<LineBits> buildLine(const LineBits& current, const LineSettings& settings)
{
    if (!hasTermiosForm(settings))
        return std::nullopt;
    LineBits next = current;
    next.iflag = current.iflag & (IXON | IXOFF | IXANY | INPCK);
    next.oflag = 0;
    next.lflag = 0;
    // CIBAUD left 0: the input speed follows the output speed.
    next.cflag = (current.cflag & (CRTSCTS | CLOCAL | HUPCL)) | CREAD | encodeSpeed(settings.baudRate)
        | kSizeBits[settings.byteSize - 5] | kParityBits[settings.parity]
        | (settings.stopBits == 2 ? CSTOPB : 0);
    next.ispeed = settings.baudRate;
    next.ospeed = settings.baudRate;
    // A read takes what is waiting and returns at once, as a read of a counted queue does.
    next.cc[VMIN] = 0;
    next.cc[VTIME] = 0;
    return next;
}

uint32_t outputSpeed(const LineBits& bits)
{
    return decodeSpeed(bits.cflag & CBAUD, bits.ospeed);
}

uint32_t inputSpeed(const LineBits& bits)
{
    const uint32_t code = (bits.cflag >> kInputSpeedShift) & CBAUD;
    return code == 0 ? outputSpeed(bits) : decodeSpeed(code, bits.ispeed);
}

bool readBackAccepted(const LineBits& wanted, const LineBits& got, bool isPseudoTerminal)
{
    constexpr uint32_t comparedByMeaning = CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR;
    return speedsMatch(outputSpeed(wanted), outputSpeed(got))
        && speedsMatch(inputSpeed(wanted), inputSpeed(got)) && sizeMatches(wanted, got, isPseudoTerminal)
        && parityMatches(wanted, got, isPseudoTerminal)
        && (wanted.cflag & ~comparedByMeaning) == (got.cflag & ~comparedByMeaning)
        && wanted.iflag == got.iflag && wanted.oflag == got.oflag && wanted.lflag == got.lflag
        && wanted.cc == got.cc;
}

LineSettings describeLine(const LineBits& bits)
{
    LineSettings settings;
    settings.baudRate = outputSpeed(bits);
    settings.parity
        = (bits.cflag & PARENB) ? codeOf(kParityBits, bits.cflag & (PARENB | PARODD | CMSPAR)) : 0;
    settings.byteSize = static_cast<uint8_t>(5 + codeOf(kSizeBits, bits.cflag & CSIZE));
    settings.stopBits = (bits.cflag & CSTOPB) ? 2 : 0;
    return settings;
}

int bitsPerCharacter(const LineBits& bits)
{
    return bitsPerCharacter(describeLine(bits));
}

} // namespace platform
