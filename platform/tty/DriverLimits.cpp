#include "platform/tty/DriverLimits.h"

#include "platform/discovery/DeviceInventory.h"
#include "platform/files/Descriptors.h"

#include <cmath>
#include <cstdio>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

constexpr double kTolerance = 0.02;
constexpr unsigned kTtyMajor = 4;
constexpr unsigned kFirstSerialMinor = 64; // ttyS0
constexpr unsigned kLargestUartDivisor = 0xFFFF;
constexpr double kFtdiClock = 48000000.0; // FT232-class chips divide this by 16 and a divisor
constexpr unsigned kFtdiIntegerBits = 0x3FFF;
constexpr char kFtdiDriver[] = "ftdi_sio";
constexpr uint32_t kFtdiCommonDivisorBelow = 1200;

bool isUart8250(PortHandle port)
{
    struct stat node { };
    return fstat(port, &node) == 0 && major(node.st_rdev) == kTtyMajor
        && minor(node.st_rdev) >= kFirstSerialMinor;
}

// The rate the 8250 driver really programs: baud_base over the nearest whole divisor.
std::optional<double> uartRate(const DriverFacts& facts, uint32_t baud)
{
    // Other chips on this driver divide in fractions or multiply past the base: nothing is known.
    if (facts.baudBase <= 0 || facts.uartType < PORT_8250 || facts.uartType > PORT_16550A
        || facts.magicMultiplier)
        return std::nullopt;
    const double base = facts.baudBase;
    const double divisor = std::round(base / baud);
    if (divisor < 1) // above the base rate the driver keeps the old speed, which the read-back sees
        return std::nullopt;
    if (divisor > kLargestUartDivisor)
        return 0.0; // the divisor register cannot hold it
    return base / divisor;
}

// The rate an FT232-class chip runs for what ftdi_sio sends it: a divisor in eighths whose
// integer part has 14 bits; the bits above them spill into the fraction code.
double ftdiRate(uint32_t baud)
{
    static constexpr unsigned kFractionCode[8] = { 0, 3, 2, 4, 1, 5, 6, 7 };
    static constexpr double kFractionOfCode[8] = { 0, 0.5, 0.25, 0.125, 0.375, 0.625, 0.75, 0.875 };
    const auto eighths = static_cast<unsigned long>(std::lround(kFtdiClock / (2.0 * baud)));
    const unsigned long field = (eighths >> 3) | (kFractionCode[eighths & 7] << 14);
    const double divisor = double(field & kFtdiIntegerBits) + kFractionOfCode[(field >> 14) & 7];
    return divisor > 0 ? kFtdiClock / 16.0 / divisor : 0.0;
}

std::optional<std::string> rateRefusal(const char* who, double real, uint32_t asked)
{
    const double off = std::fabs(real - asked) / asked;
    if (off <= kTolerance)
        return std::nullopt;
    char text[120];
    if (real <= 0)
        std::snprintf(text, sizeof text, "%s cannot run %u baud", who, unsigned(asked));
    else
        std::snprintf(text, sizeof text, "%s runs %.0f baud for %u (%.1f %% off)", who, real, unsigned(asked),
            100.0 * off);
    return std::string(text);
}

} // namespace

DriverFacts driverFacts(PortHandle port)
{
    DriverFacts facts;
    serial_struct info {};
    if (isUart8250(port) && ioctl(port, TIOCGSERIAL, &info) == 0) {
        facts.kind = DriverFacts::Kind::Uart8250;
        facts.uartType = info.type;
        facts.baudBase = info.baud_base;
        facts.magicMultiplier = (info.flags & ASYNC_MAGIC_MULTIPLIER) != 0;
    } else if (describeDevice(descriptorPath(port)).driver == kFtdiDriver) {
        facts.kind = DriverFacts::Kind::Ftdi;
    }
    return facts;
}

std::optional<std::string> hardwareRefusal(const DriverFacts& facts, const LineSettings& settings)
{
    if (settings.baudRate == 0)
        return std::nullopt;
    if (facts.kind == DriverFacts::Kind::Uart8250) {
        const auto real = uartRate(facts, settings.baudRate);
        return real ? rateRefusal("the UART", *real, settings.baudRate) : std::nullopt;
    }
    if (facts.kind != DriverFacts::Kind::Ftdi)
        return std::nullopt;
    if (settings.byteSize == 5)
        return std::string("ftdi_sio sends 8 data bits when 5 are asked");
    // Below this every chip of the family divides 3 MHz the same way; above it the high-speed ones
    // run from another clock.
    if (settings.baudRate >= kFtdiCommonDivisorBelow)
        return std::nullopt;
    return rateRefusal("ftdi_sio", ftdiRate(settings.baudRate), settings.baudRate);
}

std::optional<std::string> hardwareRefusal(PortHandle port, const LineSettings& settings)
{
    if (!isPort(port) || settings.baudRate == 0)
        return std::nullopt;
    return hardwareRefusal(driverFacts(port), settings);
}

} // namespace platform
