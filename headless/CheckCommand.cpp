// --check COMn: can the port be opened exclusively, and if not, why and by whom.
#include "headless/Commands.h"

#include "headless/JsonOutput.h"

#include "platform/discovery/PortHolders.h"
#include "platform/registry/PortRegistry.h"

#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace headless {

namespace {

// "free", and who else has the device open without holding it: a check takes none of their bytes.
std::string freeText(const std::string& device)
{
    const platform::Openers openers = platform::findOpeners(device);
    if (!openers.pids.empty())
        return "free (also open by " + processList(openers.pids, "PID ") + ")";
    if (openers.unseen)
        return "free (also open by a process that cannot be seen from here)";
    return "free";
}

std::string busyReason(const std::string& device)
{
    const platform::PortHolders holders = platform::findHolders(device);
    if (holders.lockFileHolder)
        return "busy: held by PID " + processLabel(*holders.lockFileHolder) + ", lock file";
    if (holders.lockHolder)
        return "busy: held by PID " + processLabel(*holders.lockHolder) + ", flock";
    if (holders.locked)
        return "busy: held with a lock by a process that is not named";
    // Without a lock the holder set TIOCEXCL, which names nobody: any of the openers may have.
    if (holders.openBy.size() == 1)
        return "busy: held by PID " + processLabel(holders.openBy.front()) + ", exclusive open";
    if (!holders.openBy.empty())
        return "busy: exclusive open by one of " + processList(holders.openBy, "PID ");
    return "busy: held by a process that cannot be seen from here";
}

// The login name for the usermod hint; "$USER" when the account has no name.
std::string userName()
{
    const passwd* user = getpwuid(getuid());
    return user && user->pw_name ? user->pw_name : "$USER";
}

} // namespace

std::string openFailureText(const platform::OpenResult& opened)
{
    const std::string& device = opened.device;
    switch (opened.failure) {
    case platform::OpenFailure::NoSuchPort:
        return device.empty() ? "missing: not a port name" : "missing: no device " + device;
    case platform::OpenFailure::NotATty:
        return "not a tty: " + device + " is no terminal device";
    case platform::OpenFailure::NoUart:
        return "no UART behind " + device;
    case platform::OpenFailure::PermissionDenied:
        if (const auto group = platform::groupAllowedToOpen(device))
            return "permission denied: members of the group " + *group
                + " may open it; to join it: sudo usermod -aG " + *group + " " + userName()
                + ", then log in again";
        return "permission denied";
    case platform::OpenFailure::Busy:
        return busyReason(device);
    case platform::OpenFailure::SystemConsole:
        return "busy: system console";
    case platform::OpenFailure::ControllingTerminal:
        return "busy: controlling terminal of PID " + processLabel(opened.session);
    default:
        return "could not be opened";
    }
}

std::string lineStateText(platform::LineState state)
{
    switch (state) {
    case platform::LineState::Vanished:
        return "port vanished";
    case platform::LineState::CarrierLost:
        return "carrier lost (hang-up)";
    case platform::LineState::Up:
        break;
    }
    return {};
}

namespace {

// The fields the driver did not take as asked; a pty's forced size and parity are not counted.
std::string changedFields(const platform::LineSettings& asked, const platform::LineSettings& got, bool pty)
{
    std::string fields;
    const auto add
        = [&fields](const char* name) { fields += (fields.empty() ? "" : ", ") + std::string(name); };
    if (asked.baudRate != got.baudRate)
        add("baud rate");
    if (asked.byteSize != got.byteSize && !pty)
        add("data bits");
    if (asked.parity != got.parity && !pty)
        add("parity");
    if (asked.stopBits != got.stopBits)
        add("stop bits");
    return fields;
}

std::string describeTaken(const platform::LineSettings& got, const platform::LineSettings& asked, bool pty)
{
    std::string text = describeSettings(got);
    if (pty && (asked.byteSize != got.byteSize || asked.parity != got.parity))
        text += " (a pseudo-terminal always has 8 data bits and parity None)";
    return text;
}

int applyAndReadBack(
    platform::PortHandle port, const platform::LineSettings& asked, std::ostream& out, Json& json)
{
    std::string hardwareReason;
    const bool taken = platform::applyLineSettings(port, asked, &hardwareReason);
    platform::LineSettings got;
    bool pty {};
    out << "asked:      " << describeSettings(asked) << "\n";
    json["asked"] = settingsJson(asked);
    const bool readBack = platform::readLineSettings(port, got, &pty);
    if (readBack)
        out << "driver has: " << describeTaken(got, asked, pty) << "\n";
    else
        out << "driver has: (cannot be read back)\n";
    json["driver_has"] = readBack ? settingsJson(got) : Json(nullptr);
    json["pseudo_terminal"] = pty;
    json["settings_taken"] = taken;
    const std::string fields = changedFields(asked, got, pty);
    const std::string refusal = taken ? ""
        : !hardwareReason.empty()     ? hardwareReason
        : fields.empty()              ? "refused"
                                      : "the driver did not take the " + fields;
    json["refusal"] = textOrNull(refusal);
    if (taken)
        out << "settings taken\n";
    else if (!hardwareReason.empty() || !fields.empty())
        out << "settings refused: " << refusal << "\n";
    else
        out << "settings refused\n";
    return taken ? kYes : kNo;
}

} // namespace

namespace {

int checkOpen(bool applySettings, const platform::LineSettings& request, std::ostream& out, Json& json)
{
    const std::string label = portLabel(request.portName);
    const platform::OpenResult opened = platform::openPortExclusive(request.portName);
    json["free"] = false;
    if (!platform::isPort(opened.handle)) {
        json["result"] = openFailureText(opened);
        out << label << ": " << openFailureText(opened) << "\n";
        return kNo;
    }
    // A live lock file holds the port even though the open went through.
    if (platform::findHolders(opened.device).lockFileHolder) {
        platform::closePort(opened.handle, platform::UnreadInput::Keep);
        json["result"] = busyReason(opened.device);
        out << label << ": " << busyReason(opened.device) << "\n";
        return kNo;
    }
    json["free"] = true;
    json["result"] = freeText(opened.device);
    out << label << ": " << freeText(opened.device) << "\n";
    const int status = applySettings ? applyAndReadBack(opened.handle, request, out, json) : kYes;
    platform::closePort(opened.handle, platform::UnreadInput::Keep);
    return status;
}

} // namespace

int checkPort(const CommandLine& line, const platform::LineSettings& request, std::ostream& out)
{
    Json json = commandJson("check", request.portName);
    std::ostringstream text;
    const int status = checkOpen(line.settingsFile.has_value(), request, line.json ? text : out, json);
    if (line.json)
        printJson(json, out);
    return status;
}

} // namespace headless
