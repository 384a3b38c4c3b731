#include "serial/PortRules.h"

#include <algorithm>
#include <vector>

namespace serial {

namespace {

// A port whose settings were refused, kept open while the refusal is reported. A close of the same
// port meanwhile (the tick of an earlier exchange runs inside the report) marks it closed.
class AwaitingClose {
public:
    explicit AwaitingClose(platform::PortHandle port)
        : port_(port)
    {
        pending().push_back(&port_);
    }
    ~AwaitingClose() { std::erase(pending(), &port_); }
    AwaitingClose(const AwaitingClose&) = delete;
    AwaitingClose& operator=(const AwaitingClose&) = delete;

    platform::PortHandle handle() const { return port_; }
    bool stillOpen() const { return platform::isPort(port_); }

    static void noteClosed(platform::PortHandle port)
    {
        for (platform::PortHandle* entry : pending())
            if (*entry == port)
                *entry = platform::kInvalidPort;
    }

private:
    static std::vector<platform::PortHandle*>& pending()
    {
        thread_local std::vector<platform::PortHandle*> ports;
        return ports;
    }

    platform::PortHandle port_;
};

} // namespace

bool openAndConfigure(platform::PortHandle& port, const platform::LineSettings& request,
    const FailureReport& report, OpenOutcome* outcome)
{
    OpenOutcome ignored;
    OpenOutcome& found = outcome ? *outcome : ignored;
    found.opened = platform::openPortExclusive(request.portName);
    port = found.opened.handle;
    if (!platform::isPort(port)) {
        report(kOpenError);
        return false;
    }
    if (platform::applyLineSettings(port, request, &found.hardwareReason))
        return true;
    AwaitingClose opened(port);
    report(kSettingsError);
    if (!opened.stillOpen())
        return false;
    // Close our own port only: a click during the report may have put another one into port.
    platform::PortHandle mine = opened.handle();
    closeAndForget(port == mine ? port : mine);
    return false;
}

void closeAndForget(platform::PortHandle& port)
{
    if (!platform::isPort(port))
        return;
    AwaitingClose::noteClosed(port);
    platform::closePort(port);
    port = platform::kInvalidPort;
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
