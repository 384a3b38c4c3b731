// --selftest: one PASS/FAIL row per line setting, then RTS->CTS and DTR->DSR/DCD.
#include "headless/SelftestCommand.h"

#include "headless/Commands.h"
#include "headless/JsonOutput.h"
#include "platform/tty/ExitPath.h"
#include "platform/tty/ModemLines.h"
#include "platform/tty/SerialPort.h"
#include "serial/HexText.h"
#include "serial/SettingsTables.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>

namespace headless {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<uint8_t, 8> kPattern { 0x55, 0xAA, 0x00, 0xFF, 0x0F, 0xF0, 0x5A, 0xA5 };

// Beyond the time on the wire there and back: the driver's and the scheduler's delays.
constexpr auto kRowSlack = std::chrono::milliseconds(300);
// A modem input follows its output through the plug within this.
constexpr auto kLineSettle = std::chrono::milliseconds(100);

std::string masked(const std::string& bytes, uint8_t byteSize)
{
    const auto mask = static_cast<uint8_t>((1u << byteSize) - 1u);
    std::string result = bytes;
    for (char& c : result)
        c = static_cast<char>(static_cast<uint8_t>(c) & mask);
    return result;
}

Clock::duration rowTime(const platform::LineSettings& settings, size_t count)
{
    const auto wire = std::chrono::microseconds(
        uint64_t(count) * uint64_t(platform::bitsPerCharacter(settings)) * 1000000 / settings.baudRate);
    return 2 * wire + kRowSlack;
}

// Reads what comes back until count bytes are in, the deadline passes or the device is gone.
std::string readBack(platform::PortHandle port, size_t count, Clock::time_point deadline)
{
    std::string got;
    uint8_t chunk[64];
    while (got.size() < count && platform::waitForInput(port, deadline)) {
        const int read
            = platform::readBytes(port, chunk, static_cast<int>(std::min(count - got.size(), sizeof chunk)));
        if (read <= 0)
            break;
        got.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(read));
    }
    return got;
}

struct RowResult {
    bool passed {};
    std::string detail;
};

RowResult exchangePattern(platform::PortHandle port, const platform::LineSettings& settings)
{
    std::string hardwareReason;
    if (!platform::applyLineSettings(port, settings, &hardwareReason))
        return { false, hardwareReason.empty() ? "the driver refused the settings" : hardwareReason };
    platform::discardInput(port);
    const std::string pattern = selfTestPattern(settings.byteSize);
    const auto deadline = Clock::now() + rowTime(settings, pattern.size());
    serial::sendBytes(port, pattern);
    // A UART may fill the bits above the data bits; only the data bits count.
    const std::string got = masked(readBack(port, pattern.size(), deadline), settings.byteSize);
    if (got == pattern)
        return { true, {} };
    if (got.empty())
        return { false, "nothing came back" };
    return { false, "sent " + hexText(pattern) + ", got " + hexText(got) };
}

std::string rowText(const platform::LineSettings& settings, const RowResult& result)
{
    char line[80];
    std::snprintf(line, sizeof line, "%6u  %-6s  %4u  %4s  %s", settings.baudRate,
        settings_tables::parityText(settings.parity).value_or("?").c_str(), unsigned(settings.byteSize),
        settings_tables::stopBitsText(settings.stopBits).value_or("?").c_str(),
        result.passed ? "PASS" : "FAIL");
    return std::string(line) + (result.detail.empty() ? "" : "  " + result.detail);
}

bool waitForLine(platform::PortHandle port, const std::function<bool(const platform::ModemInputs&)>& wanted)
{
    const auto deadline = Clock::now() + kLineSettle;
    for (;;) {
        const auto inputs = platform::readModemInputs(port);
        if (inputs && wanted(*inputs))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

using Setter = bool (*)(platform::PortHandle, bool);
using Input = bool platform::ModemInputs::*;

// Drops the output, sees the input drop, raises it, sees the input rise; the output ends raised.
bool loopFollows(platform::PortHandle port, Setter setOutput, Input input)
{
    bool followed
        = setOutput(port, false) && waitForLine(port, [input](const auto& in) { return !(in.*input); });
    followed = setOutput(port, true) && waitForLine(port, [input](const auto& in) { return in.*input; })
        && followed;
    return followed;
}

// Counts the loops that failed; a driver without modem lines has none to fail. In loop mode DCD
// follows OUT2, where a plug wires it to DTR.
int checkModemLoops(platform::PortHandle port, bool loopMode, std::ostream& out, Json& json)
{
    struct Loop {
        const char* name;
        Setter setOutput;
        Input input;
    };
    const std::array<Loop, 3> loops {
        { { "RTS->CTS", platform::setRequestToSend, &platform::ModemInputs::clearToSend },
            { "DTR->DSR", platform::setDataTerminalReady, &platform::ModemInputs::dataSetReady },
            loopMode
                ? Loop { "OUT2->DCD", platform::setOut2, &platform::ModemInputs::carrierDetect }
                : Loop { "DTR->DCD", platform::setDataTerminalReady, &platform::ModemInputs::carrierDetect } }
    };
    if (loopMode)
        out << "DTR→DCD: not wired in loop mode\n";
    const bool available = platform::readModemInputs(port).has_value();
    int failed = 0;
    for (const auto& loop : loops) {
        if (!available) {
            out << loop.name << "  not available (the driver has no modem lines)\n";
            json.push_back({ { "loop", loop.name }, { "result", "not available" } });
            continue;
        }
        const bool passed = loopFollows(port, loop.setOutput, loop.input);
        failed += passed ? 0 : 1;
        json.push_back({ { "loop", loop.name }, { "result", passed ? "pass" : "fail" } });
        out << loop.name << "  " << (passed ? "PASS" : "FAIL  the input did not follow the output") << "\n";
    }
    return failed;
}

} // namespace

std::vector<platform::LineSettings> selfTestSettings()
{
    std::vector<platform::LineSettings> all;
    for (const auto& baud : settings_tables::bauds)
        for (const auto& parity : settings_tables::parities)
            for (const auto& size : settings_tables::dataBits)
                for (const auto& stop : settings_tables::stopBits)
                    all.push_back(
                        { platform::lineSpeed(baud.second), parity.second, size.second, stop.second });
    return all;
}

std::string selfTestPattern(uint8_t byteSize)
{
    return masked(std::string(kPattern.begin(), kPattern.end()), byteSize);
}

namespace {

Json rowJson(const platform::LineSettings& settings, const RowResult& result)
{
    Json row = settingsJson(settings);
    row["passed"] = result.passed;
    row["detail"] = textOrNull(result.detail);
    return row;
}

// The rows and the loops; the document gets their facts. kPortFailed when the port went away.
int runRows(platform::PortHandle port, bool internal, std::ostream& out, Json& json)
{
    const auto rows = selfTestSettings();
    size_t passed = 0;
    json["rows"] = Json::array();
    json["modem_loops"] = Json::array();
    json["ended"] = nullptr;
    for (const auto& settings : rows) {
        const RowResult result = exchangePattern(port, settings);
        passed += result.passed ? 1 : 0;
        json["rows"].push_back(rowJson(settings, result));
        out << rowText(settings, result) << "\n" << std::flush;
        if (!out) { // the reader went away: no row is worth running for nobody
            platform::endOnBrokenPipe();
            return kNo;
        }
        // A failed row may be the first sign that the port is gone: the rows after it would only
        // blame the driver.
        if (const auto state = result.passed ? platform::LineState::Up : platform::lineState(port);
            state != platform::LineState::Up) {
            out << lineStateText(state) << "\n";
            json["ended"] = lineStateText(state);
            return kPortFailed;
        }
    }
    const int failedLoops = checkModemLoops(port, internal, out, json["modem_loops"]);
    out << passed << " of " << rows.size() << " rows passed";
    if (failedLoops > 0)
        out << ", " << failedLoops << " modem line loop" << (failedLoops == 1 ? "" : "s") << " failed";
    out << "\n";
    json["passed"] = passed;
    json["total"] = rows.size();
    return passed == rows.size() && failedLoops == 0 ? kYes : kNo;
}

} // namespace

int selfTest(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& stdOut, std::ostream& err)
{
    platform::PortHandle port = platform::kInvalidPort;
    std::string reason;
    if (!openForCommand(port, request, err, &reason))
        return portFailed(line, "selftest", request.portName, reason, stdOut);
    if (line.internal && !platform::startLoopMode(port)) {
        platform::closePort(port);
        err << "comtest: " << portLabel(request.portName) << ": loop mode not offered by its driver\n";
        return portFailed(line, "selftest", request.portName, "loop mode not offered by its driver", stdOut);
    }
    std::ostringstream discard;
    std::ostream& out = line.json ? discard : stdOut;
    Json json = commandJson("selftest", request.portName);
    json["internal"] = line.internal;
    out << "Self-test of " << portLabel(request.portName) << (line.internal ? " in the UART's loop mode" : "")
        << ": " << selfTestSettings().size() << " line settings, " << kPattern.size()
        << " bytes each, masked to the data bits\n";
    out << "  BAUD  PARITY  DATA  STOP  RESULT\n";
    const int status = runRows(port, line.internal, out, json);
    platform::closePort(port);
    if (line.json)
        printJson(json, stdOut);
    return status;
}

} // namespace headless
