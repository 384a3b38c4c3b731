#include "headless/Commands.h"

#include "headless/JsonOutput.h"
#include "platform/discovery/ComNames.h"
#include "platform/discovery/PortHolders.h"
#include "platform/files/FileAccess.h"
#include "serial/SettingsFile.h"
#include "serial/SettingsTables.h"

#include <ostream>

namespace headless {

namespace {

// The file's line settings over request; false (reason set) when it cannot be read or is not ours.
bool loadSettingsFile(const std::string& path, platform::LineSettings& request, std::string& reason)
{
    const auto bytes = platform::readSmallRegularFile(path, settings_file::kFileSize);
    if (!bytes) {
        reason = "--settings " + path + ": cannot be read (missing, not a regular file, or no permission)";
        return false;
    }
    const auto loaded = settings_file::decode(*bytes);
    if (!loaded) {
        reason = "--settings " + path + ": not a comtest settings file";
        return false;
    }
    request = loaded->settings;
    return true;
}

std::string codeText(const std::optional<std::string>& text, unsigned code)
{
    return text ? *text : "code " + std::to_string(code);
}

} // namespace

std::optional<platform::LineSettings> chooseLine(
    const CommandLine& line, const std::optional<std::string>& portName, std::string& reason)
{
    platform::LineSettings request;
    if (line.settingsFile && !loadSettingsFile(*line.settingsFile, request, reason))
        return std::nullopt;
    if (line.comPort)
        request.portName = *line.comPort;
    if (portName)
        request.portName = *portName;
    return request;
}

std::string describeSettings(const platform::LineSettings& settings)
{
    return std::to_string(settings.baudRate) + " baud, " + std::to_string(settings.byteSize)
        + " data bits, parity " + codeText(settings_tables::parityText(settings.parity), settings.parity)
        + ", stop bits "
        + (settings.stopBits == 1
                ? std::string("1.5")
                : codeText(settings_tables::stopBitsText(settings.stopBits), settings.stopBits));
}

std::string portLabel(const std::string& portName)
{
    const auto device = platform::deviceForPortName(portName);
    return (portName.empty() ? std::string("\"\"") : portName) + " (" + (device ? *device : "no device")
        + ")";
}

std::string processLabel(int pid)
{
    const std::string name = platform::processName(pid);
    return std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

std::string processList(const std::vector<int>& pids, const std::string& prefix)
{
    std::string text;
    for (const int pid : pids)
        text += (text.empty() ? "" : ", ") + prefix + processLabel(pid);
    return text;
}

bool openForCommand(
    platform::PortHandle& port, const platform::LineSettings& request, std::ostream& err, std::string* reason)
{
    std::string message;
    serial::OpenOutcome outcome;
    if (serial::openAndConfigure(
            port, request, [&message](const char* text) { message = text; }, &outcome))
        return true;
    const std::string why = message == serial::kOpenError
        ? openFailureText(outcome.opened)
        : "the line settings were refused (" + describeSettings(request) + ")"
            + (outcome.hardwareReason.empty() ? "" : ": " + outcome.hardwareReason);
    err << "comtest: " << message << " " << portLabel(request.portName) << ": " << why << "\n";
    if (reason)
        *reason = why;
    return false;
}

int portFailed(const CommandLine& line, const char* command, const std::string& portName,
    const std::string& reason, std::ostream& out)
{
    if (line.json) {
        Json document = commandJson(command, portName);
        document["error"] = reason;
        printJson(document, out);
    }
    return kPortFailed;
}

int runCommand(const CommandLine& line, std::ostream& out, std::ostream& err)
{
    if (line.command == Command::ListPorts)
        return listPorts(line, out);
    std::string reason;
    const auto request = chooseLine(
        line, line.command == Command::Check ? std::optional(line.checkPort) : std::nullopt, reason);
    if (!request) {
        err << "comtest: " << reason << "\n" << usageText();
        return kBadInput;
    }
    switch (line.command) {
    case Command::Check:
        return checkPort(line, *request, out);
    case Command::Send:
        return sendAndCompare(line, *request, out, err);
    case Command::SelfTest:
        return selfTest(line, *request, out, err);
    case Command::Stress:
        return stress(line, *request, out, err);
    case Command::Lines:
        return readLines(line, *request, out, err);
    default:
        return kBadInput;
    }
}

} // namespace headless
