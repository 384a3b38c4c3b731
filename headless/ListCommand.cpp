// --list-ports: every serial device, what the system tells of it, its COMn name and who has it.
#include "headless/Commands.h"

#include "headless/JsonOutput.h"
#include "platform/discovery/ComNames.h"
#include "platform/discovery/DeviceInventory.h"
#include "platform/discovery/PortHolders.h"
#include "platform/registry/PortRegistry.h"

#include <algorithm>
#include <ostream>

namespace headless {

namespace {

struct PortRow {
    platform::SerialDeviceInfo info;
    std::string com; // "" when no COMn name stands for it
    platform::PortHolders holders;
};

std::vector<PortRow> collectRows()
{
    std::vector<platform::SerialDeviceInfo> devices = platform::serialDevices();
    // Devices named only by --port or --loopback (ptys, for instance) are listed too.
    for (const auto& [number, mapped] : platform::PortRegistry::instance().explicitMappings()) {
        const bool listed = std::any_of(devices.begin(), devices.end(),
            [&](const auto& known) { return platform::sameDevice(known.device, mapped); });
        if (!listed && platform::sameDevice(mapped, mapped))
            devices.push_back(platform::describeDevice(mapped));
    }
    const platform::ComNameTable names = platform::systemComNames();
    std::vector<std::string> paths;
    for (const auto& info : devices)
        paths.push_back(info.device);
    const auto holders = platform::findHolders(paths); // one look at every process for all of them
    std::vector<PortRow> rows;
    for (size_t i = 0; i < devices.size(); ++i)
        rows.push_back({ devices[i], platform::comNameOfDevice(devices[i].device, names), holders[i] });
    return rows;
}

// Who else has the device open: those seen, and a mark for any that cannot be.
std::string alsoOpenText(const platform::PortHolders& holders)
{
    const std::string seen = processList(holders.openBy);
    if (!holders.openByUnseen)
        return seen;
    return seen + (seen.empty() ? "" : ", ") + "a process not seen from here";
}

// The console and a session's terminal are never opened; they are marked whoever else has them.
std::string terminalText(const platform::TerminalUse& use)
{
    if (use.systemConsole)
        return "system console";
    if (use.controllingSession)
        return "controlling terminal of " + processLabel(*use.controllingSession);
    return {};
}

std::string heldText(const platform::PortHolders& holders, bool noUart)
{
    if (noUart)
        return "no UART";
    if (const std::string terminal = terminalText(holders.terminal); !terminal.empty())
        return terminal;
    if (!holders.held())
        return "no";
    const auto holder = holders.holder();
    return holder ? "by " + processLabel(*holder) : "yes";
}

void printRows(const std::vector<PortRow>& rows, std::ostream& out)
{
    Json list = Json::array();
    for (const PortRow& row : rows) {
        const auto holder = row.holders.holder();
        list.push_back({ { "device", row.info.device }, { "com", textOrNull(row.com) },
            { "driver", textOrNull(row.info.driver) }, { "usb_id", textOrNull(row.info.usbId) },
            { "serial", textOrNull(row.info.serial) }, { "by_id", textOrNull(row.info.byId) },
            { "held", row.holders.held() }, { "holder", holder ? Json(*holder) : Json(nullptr) },
            { "open_by", row.holders.openBy }, { "open_by_unseen", row.holders.openByUnseen },
            { "terminal", textOrNull(terminalText(row.holders.terminal)) }, { "no_uart", row.info.noUart } });
    }
    printJson(list, out);
}

void printTable(const std::vector<PortRow>& rows, std::ostream& out)
{
    if (rows.empty()) {
        out << "no serial devices found\n";
        return;
    }
    using Cells = std::vector<std::string>;
    std::vector<Cells> table { { "DEVICE", "COM", "DRIVER", "USB ID", "SERIAL", "HELD", "ALSO OPEN BY",
        "BY-ID" } };
    const auto cell = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    for (const auto& row : rows)
        table.push_back({ row.info.device, cell(row.com), cell(row.info.driver), cell(row.info.usbId),
            cell(row.info.serial), heldText(row.holders, row.info.noUart), cell(alsoOpenText(row.holders)),
            cell(row.info.byId) });
    std::vector<size_t> widths(table.front().size(), 0);
    for (const auto& cells : table)
        for (size_t c = 0; c < cells.size(); ++c)
            widths[c] = std::max(widths[c], cells[c].size());
    for (const auto& cells : table) {
        std::string line;
        for (size_t c = 0; c < cells.size(); ++c)
            line
                += cells[c] + (c + 1 < cells.size() ? std::string(widths[c] - cells[c].size() + 2, ' ') : "");
        out << line << "\n";
    }
}

} // namespace

int listPorts(const CommandLine& line, std::ostream& out)
{
    const std::vector<PortRow> rows = collectRows();
    if (line.json)
        printRows(rows, out);
    else
        printTable(rows, out);
    return kYes;
}

} // namespace headless
