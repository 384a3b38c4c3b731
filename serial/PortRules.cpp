#include "PortRules.h"

#include <cmath>
#include <limits>

namespace serial {

uint32_t lineSpeed(double baudRate)
{
    if (!(baudRate >= 1.0)) // also NaN
        return 0;
    if (baudRate >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(std::trunc(baudRate));
}

bool openAndConfigure(platform::PortHandle& port, const LineRequest& request, const FailureReport& report)
{
    port = platform::openPortExclusive(request.portName).handle;
    if (!platform::isPort(port)) {
        report(kOpenError);
        return false;
    }
    const platform::PortHandle opened = port;
    const platform::LineSettings settings { lineSpeed(request.baudRate), request.parity, request.byteSize,
        request.stopBits };
    if (platform::applyLineSettings(opened, settings))
        return true;
    report(kSettingsError);
    // Close our own port: a click during the box may have opened another one into port.
    platform::closePort(opened);
    if (port == opened)
        port = platform::kInvalidPort;
    return false;
}

void sendBytes(platform::PortHandle port, const std::string& bytes)
{
    if (!platform::isPort(port) || bytes.empty())
        return;
    platform::writeAll(port, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

Reception receiveInto(platform::PortHandle port, uint8_t (&buffer)[kReceiveCap + 1])
{
    if (!platform::isPort(port))
        return {};
    const int waiting = platform::bytesWaiting(port);
    if (waiting > kReceiveCap) {
        platform::discardInput(port);
        return { Reception::Outcome::Discarded, waiting };
    }
    const int got = waiting > 0 ? platform::readBytes(port, buffer, waiting) : 0;
    buffer[got] = 0;
    return { Reception::Outcome::Read, got };
}

} // namespace serial
