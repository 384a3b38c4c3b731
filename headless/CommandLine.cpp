#include "headless/CommandLine.h"

#include "platform/registry/PortRegistry.h"
#include "serial/HexText.h"

#include <algorithm>
#include <set>

namespace {

constexpr long kLongestWaitMs = 3600000;

bool takesValue(const std::string& option)
{
    static const std::set<std::string> kWithValue { "--port", "--check", "--send", "--expect", "--com",
        "--settings", "--wait" };
    return kWithValue.count(option) != 0;
}

// Splits "--option=value" into its two halves; a bare option gets no value.
std::pair<std::string, std::optional<std::string>> splitOption(const std::string& arg)
{
    const auto equals = arg.find('=');
    if (equals == std::string::npos)
        return { arg, std::nullopt };
    return { arg.substr(0, equals), arg.substr(equals + 1) };
}

std::optional<PortMapping> parseMapping(const std::string& value, std::string& error)
{
    const auto equals = value.find('=');
    if (equals == std::string::npos) {
        error = "--port " + value + ": expected COMn=DEVICE";
        return std::nullopt;
    }
    const std::string name = value.substr(0, equals);
    const std::string device = value.substr(equals + 1);
    const auto number = platform::PortRegistry::comNumber(name);
    if (!number) {
        error = "--port " + value + ": \"" + name + "\" is not a port name COMn with n >= 1";
        return std::nullopt;
    }
    if (device.empty()) {
        error = "--port " + value + ": no device given for " + name;
        return std::nullopt;
    }
    return PortMapping { *number, device };
}

std::optional<int> parseMilliseconds(const std::string& text)
{
    if (text.empty() || text.size() > 7)
        return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > kLongestWaitMs)
        return std::nullopt;
    return static_cast<int>(value);
}

const char* commandOption(Command command)
{
    // In the order of Command; the window has no option of its own.
    static constexpr const char* kOptions[] { "", "--list-ports", "--check", "--send", "--selftest" };
    return kOptions[static_cast<int>(command)];
}

void setCommand(CommandLine& line, Command command)
{
    if (line.command != Command::Window && line.command != command)
        line.error = std::string(commandOption(line.command)) + " and " + commandOption(command)
            + " cannot be given together";
    else if (line.command == command)
        line.error = std::string(commandOption(command)) + " given twice";
    line.command = command;
}

void takeOption(CommandLine& line, const std::string& option, const std::optional<std::string>& value)
{
    if (option == "--help")
        line.help = true;
    else if (option == "--version")
        line.version = true;
    else if (option == "--loopback")
        line.mappings.push_back({ 1, "" });
    else if (option == "--port") {
        if (auto mapping = parseMapping(*value, line.error))
            line.mappings.push_back(*mapping);
    } else if (option == "--list-ports")
        setCommand(line, Command::ListPorts);
    else if (option == "--selftest")
        setCommand(line, Command::SelfTest);
    else if (option == "--check") {
        setCommand(line, Command::Check);
        line.checkPort = *value;
    } else if (option == "--send") {
        setCommand(line, Command::Send);
        line.sendText = *value;
    } else if (option == "--expect")
        line.expectText = *value;
    else if (option == "--com")
        line.comPort = *value;
    else if (option == "--settings")
        line.settingsFile = *value;
    else if (option == "--wait") {
        line.waitMs = parseMilliseconds(*value);
        if (!line.waitMs)
            line.error = "--wait " + *value + ": expected a whole number of milliseconds from 0 to "
                + std::to_string(kLongestWaitMs);
    } else if (option == "--hex")
        line.hex = true;
    else if (option == "--json")
        line.json = true;
    else if (option == "--internal")
        line.internal = true;
    else
        line.error = "unknown option: " + option;
}

bool isComName(const std::string& name)
{
    return platform::PortRegistry::comNumber(name).has_value();
}

// The options that belong to one command only, and the values that must be port names or hex.
std::string combinationError(const CommandLine& line)
{
    const Command command = line.command;
    const bool sending = command == Command::Send;
    if (!sending && line.expectText)
        return "--expect goes with --send";
    if (!sending && line.waitMs)
        return "--wait goes with --send";
    if (!sending && line.hex)
        return "--hex goes with --send";
    if (command != Command::ListPorts && line.json)
        return "--json goes with --list-ports";
    if (command != Command::SelfTest && line.internal)
        return "--internal goes with --selftest";
    if (line.comPort && !sending && command != Command::SelfTest)
        return "--com goes with --send or --selftest";
    if (line.settingsFile && (command == Command::Window || command == Command::ListPorts))
        return "--settings goes with --check, --send or --selftest";
    if (command == Command::Check && !isComName(line.checkPort))
        return "--check " + line.checkPort + ": not a port name COMn with n >= 1";
    if (line.comPort && !isComName(*line.comPort))
        return "--com " + *line.comPort + ": not a port name COMn with n >= 1";
    if (line.settingsFile && line.settingsFile->empty())
        return "--settings needs a file name";
    if (line.hex && !parseHexBytes(line.sendText))
        return "--send " + line.sendText + ": not hex bytes (e.g. \"41 42 0d\")";
    if (line.hex && line.expectText && !parseHexBytes(*line.expectText))
        return "--expect " + *line.expectText + ": not hex bytes (e.g. \"41 42 0d\")";
    if (command != Command::Window && line.toolkitArguments.size() > 1)
        return line.toolkitArguments[1] + ": toolkit options go with the window, not with "
            + commandOption(command);
    return {};
}

} // namespace

bool CommandLine::usesLoopback() const
{
    return std::ranges::any_of(mappings, [](const auto& mapping) { return mapping.device.empty(); });
}

CommandLine parseCommandLine(int argc, char** argv)
{
    CommandLine line;
    line.toolkitArguments.push_back(argc > 0 ? argv[0] : "comtest");
    bool lastWasToolkitOption = false;
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            // Single-dash options belong to the toolkit, and so does a bare word right after one
            // (its value: "-platform offscreen").
            if (arg.size() > 1 && arg[0] == '-') {
                line.toolkitArguments.push_back(arg);
                lastWasToolkitOption = true;
            } else if (lastWasToolkitOption) {
                line.toolkitArguments.push_back(arg);
                lastWasToolkitOption = false;
            } else {
                line.error = "unexpected argument: " + arg;
            }
            continue;
        }
        lastWasToolkitOption = false;
        auto [option, value] = splitOption(arg);
        if (takesValue(option) && !value) {
            // The next word is the value even when it starts with dashes: --send "--" sends two dashes.
            if (i + 1 >= argc) {
                line.error = option + " needs a value";
                break;
            }
            value = argv[++i];
        } else if (!takesValue(option) && value) {
            line.error = option + " takes no value";
            break;
        }
        takeOption(line, option, value);
    }
    if (line.error.empty() && !line.help && !line.version)
        line.error = combinationError(line);
    return line;
}

std::string versionText()
{
    return std::string("comtest ") + COMTEST_VERSION + "\n";
}

std::string usageText()
{
    return "Usage: comtest [OPTION]... [TOOLKIT OPTION]...      open the window\n"
           "       comtest --list-ports [--json] [--port COMn=DEVICE]... [--loopback]\n"
           "       comtest --check COMn [--settings FILE] [--port COMn=DEVICE]... [--loopback]\n"
           "       comtest --send TEXT [--expect TEXT] [--hex] [--wait MS] [--com COMn]\n"
           "               [--settings FILE] [--port COMn=DEVICE]... [--loopback]\n"
           "       comtest --selftest [--internal] [--com COMn] [--settings FILE] [--port COMn=DEVICE]...\n"
           "               [--loopback]\n"
           "Exercise an RS232 serial port: send typed text and show what comes back.\n"
           "\n"
           "Options:\n"
           "  --port COMn=DEVICE   let the port name COMn stand for DEVICE (repeatable; the last\n"
           "                       mapping of a name wins), e.g. --port COM1=/dev/ttyUSB0.\n"
           "                       Without one, COMn is the device's own COM name (see\n"
           "                       --list-ports): /dev/ttyS<n-1> where a UART is behind it,\n"
           "                       else as kept in ~/.config/comtest/ports.\n"
           "  --loopback           let COM1 stand for a built-in loop-back port that echoes\n"
           "                       every byte (counts as a mapping of COM1)\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Commands without a window (no display needed):\n"
           "  --list-ports         list the serial devices: driver, USB id, serial number,\n"
           "                       /dev/serial/by-id name, COMn name, and who holds them (found\n"
           "                       without opening any device); --json prints a JSON array\n"
           "  --check COMn         try to open the port exclusively; say why not (missing, not a\n"
           "                       tty, no UART, permission denied, busy and by whom, the\n"
           "                       system console, a session's terminal). With --settings, also\n"
           "                       apply the file's line settings and print what the driver\n"
           "                       took and the rate the hardware really runs\n"
           "  --send TEXT          open the port as \"TX Start\" does, send TEXT, wait (500 ms or\n"
           "                       --wait MS) and print the reply as text and hex (at most 128\n"
           "                       bytes; more are discarded); --expect TEXT checks the reply;\n"
           "                       --hex takes TEXT and --expect as hex bytes (\"41 42 0d\")\n"
           "  --selftest           with a loop-back plug on the port: exchange a pattern at each\n"
           "                       of 400 line settings (10 baud rates, 5 parities, 4 data bit\n"
           "                       counts, 1 or 2 stop bits) and loop RTS->CTS, DTR->DSR/DCD\n"
           "  --internal           with --selftest: no plug; the UART loops back by itself\n"
           "                       (16550-class ports; also loops OUT2->DCD)\n"
           "  --com COMn           the port of --send and --selftest (else the --settings file's\n"
           "                       port, else COM1)\n"
           "  --settings FILE      line settings from a settings file saved by the window\n"
           "                       (default 19200 baud, 8 data bits, no parity, 1 stop bit)\n"
           "\n"
           "Examples:\n"
           "  comtest --loopback --list-ports\n"
           "  comtest --loopback --check COM1\n"
           "  comtest --loopback --send hello --expect hello\n"
           "  comtest --loopback --hex --send \"41 42 0d\" --expect \"41 42 0d\"\n"
           "  comtest --loopback --selftest\n"
           "\n"
           "Single-dash options (-platform, -display, -style, ...) are passed to Qt.\n"
           "Exit status: 0 when the window was closed, or the answer is yes (port free, reply\n"
           "matched, every row passed, the list printed); 1 when the answer is no (port not\n"
           "available or its settings refused, reply did not match, a row failed); 2 on bad\n"
           "arguments or a settings file that cannot be read; 3 when --send or --selftest could\n"
           "not open or configure the port, the port vanished or lost its carrier, there is no\n"
           "UART behind it, or its driver offers no loop mode for --internal.\n";
}
