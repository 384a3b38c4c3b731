// --stress: sustained traffic through a loop-back plug, the UART's loop mode or a cable to a second
// port, every byte that comes back checked, and the driver's error counters over the run.
#include "headless/Commands.h"

#include "headless/JsonOutput.h"
#include "headless/StressPattern.h"
#include "platform/discovery/ComNames.h"
#include "platform/discovery/DeviceInventory.h"
#include "platform/tty/ErrorCounters.h"
#include "platform/tty/ExitPath.h"
#include "platform/tty/ModemLines.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace headless {

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kDefaultSeconds = 10;
constexpr size_t kReadChunk = 65536;
constexpr auto kLongestWait = std::chrono::milliseconds(200);
constexpr auto kProgressEvery = std::chrono::seconds(1);
// Beyond the line time of what is in flight: the driver's and the scheduler's delays.
constexpr auto kDrainSlack = std::chrono::seconds(1);

struct Port {
    std::string name;
    platform::PortHandle handle = platform::kInvalidPort;
    std::optional<platform::ErrorCounters> before;
    std::optional<platform::ErrorCounters> rise;
};

struct Direction {
    size_t from {}; // index of the sending port
    size_t to {}; // and of the receiving one
    StreamChecker checker;
    uint64_t sent {};

    uint64_t inFlight() const
    {
        const uint64_t placed = checker.position() + checker.unplaced();
        return sent > placed ? sent - placed : 0;
    }
};

struct Run {
    const CommandLine& line;
    platform::LineSettings settings;
    StressPattern pattern;
    std::vector<Port> ports;
    std::vector<Direction> directions;
    uint64_t inFlightLimit = 1;
    double lineBytesPerSecond = 1;
    Clock::time_point start;
    Clock::time_point lastArrival;
    Clock::time_point stopSending; // when the time is up
    std::string ended; // why sending stopped
    bool sending = true;
    platform::LineState lineEnd = platform::LineState::Up;
};

Clock::duration lineTime(const Run& run, uint64_t bytes)
{
    return std::chrono::duration_cast<Clock::duration>(Seconds(double(bytes) / run.lineBytesPerSecond));
}

uint64_t mostInFlight(const Run& run)
{
    uint64_t most = 0;
    for (const auto& direction : run.directions)
        most = std::max(most, direction.inFlight());
    return most;
}

bool allPlaced(const Run& run)
{
    for (const auto& direction : run.directions)
        if (direction.checker.position() < direction.sent || direction.checker.unplaced() > 0)
            return false;
    return true;
}

void stopSending(Run& run, const char* why)
{
    if (run.sending)
        run.ended = why;
    run.sending = false;
}

void sendMore(Run& run, Direction& direction)
{
    const uint64_t room = run.inFlightLimit - std::min(run.inFlightLimit, direction.inFlight());
    size_t count {};
    const uint8_t* bytes = run.pattern.from(direction.sent, count);
    uint64_t allowed = std::min<uint64_t>(count, room);
    if (run.line.byteCount)
        allowed = std::min(allowed, *run.line.byteCount - direction.sent);
    direction.sent += platform::writeSome(run.ports[direction.from].handle, bytes, allowed);
}

bool wantsToSend(const Run& run, const Direction& direction)
{
    return run.sending && direction.inFlight() < run.inFlightLimit
        && (!run.line.byteCount || direction.sent < *run.line.byteCount);
}

// Takes what one port received; false when the port went away.
bool receive(Run& run, size_t port, bool hungUp, std::vector<uint8_t>& buffer)
{
    const int got
        = platform::readBytes(run.ports[port].handle, buffer.data(), static_cast<int>(buffer.size()));
    for (auto& direction : run.directions)
        if (direction.to == port && got > 0) {
            direction.checker.take(buffer.data(), static_cast<size_t>(got), direction.sent);
            run.lastArrival = Clock::now();
        }
    if (got > 0 || !hungUp)
        return true;
    run.lineEnd = platform::lineState(run.ports[port].handle);
    return run.lineEnd == platform::LineState::Up;
}

std::string progressLine(const Run& run)
{
    std::ostringstream text;
    for (const auto& direction : run.directions) {
        const auto& counts = direction.checker.counts();
        text << run.ports[direction.from].name << "->" << run.ports[direction.to].name << ": "
             << direction.sent << " sent, " << counts.verified << " verified, "
             << counts.lost + counts.corrupted + counts.extra << " in error  ";
    }
    text << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - run.start).count() << " s\n";
    return text.str();
}

// Sends and checks until the time is up, the bytes are sent, SIGINT comes or nothing comes back,
// then waits for what is in flight, up to its line time and a second.
void exchange(Run& run, std::ostream* progress)
{
    std::vector<uint8_t> buffer(kReadChunk);
    auto nextProgress = run.start + kProgressEvery;
    auto drainUntil = Clock::time_point::max();
    // A far end that stops answering: nothing comes back for the line time in flight and a second.
    const auto stallAfter = lineTime(run, run.inFlightLimit) + kDrainSlack;
    for (;;) {
        const auto now = Clock::now();
        if (run.sending && now >= run.stopSending)
            stopSending(run, "the time was up");
        if (run.sending && run.line.byteCount && std::ranges::all_of(run.directions, [&run](const auto& d) {
                return d.sent >= *run.line.byteCount;
            }))
            stopSending(run, "the bytes were sent");
        if (run.sending && platform::deferredSignal() == SIGINT)
            stopSending(run, "interrupted (SIGINT)");
        if (run.sending && mostInFlight(run) > 0 && now - run.lastArrival > stallAfter)
            stopSending(run, "nothing came back");
        if (!run.sending && drainUntil == Clock::time_point::max())
            drainUntil = now + lineTime(run, mostInFlight(run)) + kDrainSlack;
        if (!run.sending && (allPlaced(run) || now >= drainUntil))
            return;
        if (progress && now >= nextProgress) {
            *progress << progressLine(run) << std::flush;
            nextProgress += kProgressEvery;
        }
        platform::PortWait waits[2];
        for (size_t i = 0; i < run.ports.size(); ++i) {
            waits[i].port = run.ports[i].handle;
            for (const auto& direction : run.directions)
                waits[i].wantWrite
                    |= direction.from == i && run.sending && direction.inFlight() < run.inFlightLimit;
        }
        const auto until
            = std::min({ now + kLongestWait, run.sending ? run.stopSending : drainUntil, nextProgress });
        platform::waitForPorts(waits, run.ports.size(), until);
        for (size_t i = 0; i < run.ports.size(); ++i) {
            if ((waits[i].readable || waits[i].hungUp) && !receive(run, i, waits[i].hungUp, buffer)) {
                stopSending(run, lineStateText(run.lineEnd).c_str());
                return;
            }
            for (auto& direction : run.directions)
                if (direction.from == i && waits[i].writable && wantsToSend(run, direction))
                    sendMore(run, direction);
        }
    }
}

std::string counterText(const Port& port)
{
    if (!port.before)
        return "not offered by its driver";
    if (!port.rise)
        return "not read at the end: the port went away";
    const auto& c = *port.rise;
    return "frame " + std::to_string(c.frame) + ", parity " + std::to_string(c.parity) + ", overrun "
        + std::to_string(c.overrun) + ", break " + std::to_string(c.breaks) + ", buffer overrun "
        + std::to_string(c.bufferOverrun);
}

Json countersJson(const Port& port)
{
    Json json { { "port", port.name }, { "offered", port.before.has_value() },
        { "read_at_end", port.rise.has_value() } };
    if (port.rise) {
        json["frame"] = port.rise->frame;
        json["parity"] = port.rise->parity;
        json["overrun"] = port.rise->overrun;
        json["break"] = port.rise->breaks;
        json["buffer_overrun"] = port.rise->bufferOverrun;
    }
    return json;
}

bool passed(const Run& run)
{
    for (const auto& direction : run.directions)
        if (!direction.checker.counts().exact(direction.sent))
            return false;
    for (const auto& port : run.ports)
        if (port.rise && port.rise->any())
            return false;
    return true;
}

// The report as text and as JSON, from the same facts.
void report(const Run& run, std::ostream& out, Json& json)
{
    const double seconds = std::max(Seconds(run.lastArrival - run.start).count(), 1e-3);
    const int bits = platform::bitsPerCharacter(run.settings);
    out << "line: " << describeSettings(run.settings) << " (" << bits
        << " bits a character: " << static_cast<uint64_t>(run.lineBytesPerSecond) << " bytes/s)\n";
    out << "sending ended: " << run.ended << "\n";
    json["settings"] = settingsJson(run.settings);
    json["bits_per_character"] = bits;
    json["line_bytes_per_second"] = run.lineBytesPerSecond;
    json["ended"] = run.ended;
    json["seconds"] = seconds;
    json["directions"] = Json::array();
    for (const auto& direction : run.directions) {
        const auto& c = direction.checker.counts();
        const double rate = double(c.verified) / seconds;
        char figures[96];
        std::snprintf(figures, sizeof figures, "%.0f bytes/s, %.1f %% of the line's rate", rate,
            100.0 * rate / run.lineBytesPerSecond);
        const std::string from = run.ports[direction.from].name;
        const std::string to = run.ports[direction.to].name;
        out << from << " -> " << to << ": sent " << direction.sent << ", received " << c.received
            << ", verified " << c.verified << ", lost " << c.lost << ", corrupted " << c.corrupted
            << ", extra " << c.extra << ", first error at "
            << (c.firstError ? std::to_string(*c.firstError) : "-") << "; " << figures << "\n";
        json["directions"].push_back(
            { { "from", from }, { "to", to }, { "sent", direction.sent }, { "received", c.received },
                { "verified", c.verified }, { "lost", c.lost }, { "corrupted", c.corrupted },
                { "extra", c.extra }, { "first_error", c.firstError ? Json(*c.firstError) : Json(nullptr) },
                { "bytes_per_second", rate }, { "of_line_rate", rate / run.lineBytesPerSecond } });
    }
    json["counters"] = Json::array();
    for (const auto& port : run.ports) {
        out << "error counters of " << port.name << " over the run: " << counterText(port) << "\n";
        json["counters"].push_back(countersJson(port));
    }
    json["passed"] = passed(run);
    if (run.lineEnd != platform::LineState::Up)
        out << lineStateText(run.lineEnd) << "\n";
    else
        out << (passed(run) ? "PASS: every byte came back exact and no error counter rose\n"
                            : "FAIL: not every byte came back exact, or an error counter rose\n");
}

std::string modeText(const CommandLine& line)
{
    if (line.toPort)
        return " to " + portLabel(*line.toPort) + " through a cable, both ways at once";
    return line.internal ? " in the UART's loop mode" : " through a loop-back plug";
}

// Opens the ports (and loop mode); nothing is sent on the first unless all opened.
bool openPorts(Run& run, std::ostream& err, std::string& reason)
{
    std::vector<std::string> names { run.settings.portName };
    if (run.line.toPort)
        names.push_back(*run.line.toPort);
    for (const auto& name : names) {
        platform::LineSettings request = run.settings;
        request.portName = name;
        Port port { name, platform::kInvalidPort, {}, {} };
        if (!openForCommand(port.handle, request, err, &reason))
            return false;
        port.before = platform::readErrorCounters(port.handle);
        run.ports.push_back(port);
    }
    if (run.line.internal && !platform::startLoopMode(run.ports.front().handle)) {
        reason = "loop mode not offered by its driver";
        err << "comtest: " << portLabel(run.settings.portName) << ": " << reason << "\n";
        return false;
    }
    return true;
}

void closePorts(Run& run)
{
    for (auto& port : run.ports) {
        const auto after = platform::readErrorCounters(port.handle);
        if (port.before && after)
            port.rise = after->since(*port.before);
        platform::closePort(port.handle);
    }
}

std::string sameDeviceError(const CommandLine& line, const std::string& portName)
{
    const auto from = platform::deviceForPortName(portName);
    const auto to = platform::deviceForPortName(line.toPort.value_or(""));
    if (!from || !to || !platform::sameDevice(*from, *to))
        return {};
    return "--to " + *line.toPort + " is the same device as " + portName + " (" + *from + ")";
}

} // namespace

int stress(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& stdOut, std::ostream& err)
{
    if (const std::string same = sameDeviceError(line, request.portName); !same.empty()) {
        err << "comtest: " << same << "\n" << usageText();
        return kBadInput;
    }
    Run run { line, request, StressPattern(request.byteSize), {}, {}, 1, 1, {}, {}, {}, {}, true,
        platform::LineState::Up };
    run.lineBytesPerSecond = double(request.baudRate) / platform::bitsPerCharacter(request);
    run.inFlightLimit = std::max<uint64_t>(1, static_cast<uint64_t>(run.lineBytesPerSecond / 10));
    // Ctrl+C ends the run with its report; the exit path still releases the ports on other signals.
    platform::deferSignal(SIGINT);
    std::string reason;
    if (!openPorts(run, err, reason)) {
        closePorts(run);
        return portFailed(line, "stress", request.portName, reason, stdOut);
    }
    run.directions.push_back({ 0, run.ports.size() - 1, StreamChecker(run.pattern), 0 });
    if (run.ports.size() > 1)
        run.directions.push_back({ 1, 0, StreamChecker(run.pattern), 0 });
    for (const auto& port : run.ports)
        platform::discardInput(port.handle);
    run.start = run.lastArrival = Clock::now();
    run.stopSending = line.byteCount
        ? Clock::time_point::max()
        : run.start + std::chrono::seconds(line.seconds.value_or(kDefaultSeconds));
    const bool showProgress = &err == &std::cerr && platform::standardErrorIsTerminal();
    exchange(run, showProgress ? &err : nullptr);
    for (auto& direction : run.directions)
        if (run.lineEnd == platform::LineState::Up)
            direction.checker.finish(direction.sent);
    closePorts(run);

    std::ostringstream discard;
    std::ostream& out = line.json ? discard : stdOut;
    Json json = commandJson("stress", request.portName);
    json["mode"] = line.toPort ? "cable" : line.internal ? "internal" : "plug";
    json["to"] = line.toPort ? commandJson("stress", *line.toPort)["device"] : Json(nullptr);
    out << "Stress test of " << portLabel(request.portName) << modeText(line) << "\n";
    report(run, out, json);
    if (line.json)
        printJson(json, stdOut);
    else if (!(stdOut << std::flush))
        platform::endOnBrokenPipe();
    if (run.lineEnd != platform::LineState::Up)
        return kPortFailed;
    return passed(run) ? kYes : kNo;
}

} // namespace headless
