#include "headless/CommandLine.h"

#include "platform/registry/PortRegistry.h"
#include "serial/HexText.h"

#include <algorithm>
#include <array>
#include <span>

namespace {

constexpr uint64_t kLongestWaitMs = 3600000;
constexpr uint64_t kLongestStressSeconds = 7 * 24 * 3600;
constexpr uint64_t kMostStressBytes = 1000000000000;
constexpr size_t kUsageWidth = 100;
constexpr size_t kHelpColumn = 23;

constexpr unsigned bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}

constexpr unsigned kSendOnly = bit(Command::Send);
constexpr unsigned kSettingsUsers = bit(Command::Check) | bit(Command::Send) | bit(Command::SelfTest)
    | bit(Command::Stress) | bit(Command::Lines);
constexpr unsigned kPortUsers
    = bit(Command::Send) | bit(Command::SelfTest) | bit(Command::Stress) | bit(Command::Lines);

// Takes an option's value into the line; returns why it is bad, or "".
using Take = std::string (*)(CommandLine& line, const std::string& value);

// One option: what parsing, the combination check and the usage text all read.
struct Option {
    const char* name;
    const char* value; // the value's name in the usage; nullptr when the option takes none
    Command starts; // the command this option names, Window for none
    unsigned goesWith; // the commands (bits) it belongs to; 0 for any
    const char* help; // its lines of help, '\n' between them
    Take take;
};

std::string badComName(const std::string& option, const std::string& value)
{
    return option + " " + value + ": not a port name COMn with n >= 1";
}

bool isComName(const std::string& name)
{
    return platform::PortRegistry::comNumber(name).has_value();
}

std::optional<uint64_t> parseWhole(const std::string& text, uint64_t most)
{
    if (text.empty() || text.size() > 13)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > most ? std::nullopt : std::optional(value);
}

std::string wholeNumberError(
    const char* option, const std::string& value, const char* unit, uint64_t least, uint64_t most)
{
    return std::string(option) + " " + value + ": expected a whole number of " + unit + " from "
        + std::to_string(least) + " to " + std::to_string(most);
}

std::optional<bool> parseOnOff(const std::string& value)
{
    if (value == "on")
        return true;
    if (value == "off")
        return false;
    return std::nullopt;
}

std::string takeMapping(CommandLine& line, const std::string& value)
{
    const auto equals = value.find('=');
    if (equals == std::string::npos)
        return "--port " + value + ": expected COMn=DEVICE";
    const std::string name = value.substr(0, equals);
    const std::string device = value.substr(equals + 1);
    const auto number = platform::PortRegistry::comNumber(name);
    if (!number)
        return "--port " + value + ": \"" + name + "\" is not a port name COMn with n >= 1";
    if (device.empty())
        return "--port " + value + ": no device given for " + name;
    line.mappings.push_back({ *number, device });
    return {};
}

// clang-format off
constexpr std::array kOptions {
    Option { "--port", "COMn=DEVICE", Command::Window, 0,
        "let the port name COMn stand for DEVICE (repeatable; the last\n"
        "mapping of a name wins), e.g. --port COM1=/dev/ttyUSB0.\n"
        "Without one, COMn is the device's own COM name (see\n"
        "--list-ports): /dev/ttyS<n-1> where a UART is behind it,\n"
        "else as kept in ~/.config/comtest/ports.",
        takeMapping },
    Option { "--loopback", nullptr, Command::Window, 0,
        "let COM1 stand for a built-in loop-back port that echoes\n"
        "every byte (counts as a mapping of COM1)",
        [](CommandLine& l, const std::string&) { l.mappings.push_back({ 1, "" }); return std::string(); } },
    Option { "--help", nullptr, Command::Window, 0, "show this help and exit",
        [](CommandLine& l, const std::string&) { l.help = true; return std::string(); } },
    Option { "--version", nullptr, Command::Window, 0, "show the version and exit",
        [](CommandLine& l, const std::string&) { l.version = true; return std::string(); } },
    Option { "--list-ports", nullptr, Command::ListPorts, 0,
        "list the serial devices: driver, USB id, serial number,\n"
        "/dev/serial/by-id name, COMn name, and who holds them (found\n"
        "without opening any device)",
        nullptr },
    Option { "--check", "COMn", Command::Check, 0,
        "try to open the port exclusively; say why not (missing, not a\n"
        "tty, no UART, permission denied, busy and by whom, the\n"
        "system console, a session's terminal). With --settings, also\n"
        "apply the file's line settings and print what the driver\n"
        "took and the rate the hardware really runs",
        [](CommandLine& l, const std::string& v) {
            l.checkPort = v;
            return isComName(v) ? std::string() : badComName("--check", v); } },
    Option { "--send", "TEXT", Command::Send, 0,
        "open the port as \"TX Start\" does, send TEXT, wait (500 ms or\n"
        "--wait MS) and print the reply as text and hex (at most 128\n"
        "bytes; more are discarded)",
        [](CommandLine& l, const std::string& v) { l.sendText = v; return std::string(); } },
    Option { "--selftest", nullptr, Command::SelfTest, 0,
        "with a loop-back plug on the port: exchange a pattern at each\n"
        "of 400 line settings (10 baud rates, 5 parities, 4 data bit\n"
        "counts, 1 or 2 stop bits) and loop RTS->CTS, DTR->DSR/DCD",
        nullptr },
    Option { "--stress", nullptr, Command::Stress, 0,
        "send a pattern through a loop-back plug (or --internal, or\n"
        "--to COMm) and check every byte that comes back: lost,\n"
        "corrupted and extra bytes, throughput against the line's\n"
        "rate, and the driver's error counters (frame, parity,\n"
        "overrun, break, buffer overrun) over the run. Ctrl+C ends\n"
        "it early with the report",
        nullptr },
    Option { "--lines", nullptr, Command::Lines, 0,
        "read the modem lines CTS, DSR, DCD, RI and the state of RTS\n"
        "and DTR",
        nullptr },
    Option { "--json", nullptr, Command::Window,
        bit(Command::ListPorts) | kSettingsUsers,
        "print the answer as one JSON document (see the README)",
        [](CommandLine& l, const std::string&) { l.json = true; return std::string(); } },
    Option { "--com", "COMn", Command::Window, kPortUsers,
        "the port of the command (else the --settings file's port,\n"
        "else COM1)",
        [](CommandLine& l, const std::string& v) {
            l.comPort = v;
            return isComName(v) ? std::string() : badComName("--com", v); } },
    Option { "--settings", "FILE", Command::Window, kSettingsUsers,
        "line settings from a settings file saved by the window\n"
        "(default 19200 baud, 8 data bits, no parity, 1 stop bit)",
        [](CommandLine& l, const std::string& v) {
            l.settingsFile = v;
            return v.empty() ? std::string("--settings needs a file name") : std::string(); } },
    Option { "--expect", "TEXT", Command::Window, kSendOnly, "check the reply against TEXT",
        [](CommandLine& l, const std::string& v) { l.expectText = v; return std::string(); } },
    Option { "--hex", nullptr, Command::Window, kSendOnly,
        "take TEXT and --expect as hex bytes (\"41 42 0d\")",
        [](CommandLine& l, const std::string&) { l.hex = true; return std::string(); } },
    Option { "--wait", "MS", Command::Window, kSendOnly, "how long to wait for the reply (default 500)",
        [](CommandLine& l, const std::string& v) {
            const auto ms = parseWhole(v, kLongestWaitMs);
            l.waitMs = ms ? std::optional(static_cast<int>(*ms)) : std::nullopt;
            return ms ? std::string() : wholeNumberError("--wait", v, "milliseconds", 0, kLongestWaitMs); } },
    Option { "--internal", nullptr, Command::Window, bit(Command::SelfTest) | bit(Command::Stress),
        "no plug: the UART loops back by itself (16550-class ports;\n"
        "--selftest also loops OUT2->DCD)",
        [](CommandLine& l, const std::string&) { l.internal = true; return std::string(); } },
    Option { "--to", "COMm", Command::Window, bit(Command::Stress),
        "through a cable to a second port: both directions at once,\n"
        "each port checking what the other sent",
        [](CommandLine& l, const std::string& v) {
            l.toPort = v;
            return isComName(v) ? std::string() : badComName("--to", v); } },
    Option { "--seconds", "N", Command::Window, bit(Command::Stress), "how long to send (default 10)",
        [](CommandLine& l, const std::string& v) {
            const auto n = parseWhole(v, kLongestStressSeconds);
            l.seconds = n && *n > 0 ? std::optional(static_cast<int>(*n)) : std::nullopt;
            return l.seconds ? std::string()
                             : wholeNumberError("--seconds", v, "seconds", 1, kLongestStressSeconds); } },
    Option { "--bytes", "N", Command::Window, bit(Command::Stress), "send N bytes each way instead",
        [](CommandLine& l, const std::string& v) {
            const auto n = parseWhole(v, kMostStressBytes);
            l.byteCount = n && *n > 0 ? n : std::nullopt;
            return l.byteCount ? std::string() : wholeNumberError("--bytes", v, "bytes", 1, kMostStressBytes); } },
    Option { "--rts", "on|off", Command::Window, bit(Command::Lines),
        "raise or drop RTS first (it holds while the port is open)",
        [](CommandLine& l, const std::string& v) {
            l.rts = parseOnOff(v);
            return l.rts ? std::string() : "--rts " + v + ": expected on or off"; } },
    Option { "--dtr", "on|off", Command::Window, bit(Command::Lines),
        "raise or drop DTR first (it holds while the port is open)",
        [](CommandLine& l, const std::string& v) {
            l.dtr = parseOnOff(v);
            return l.dtr ? std::string() : "--dtr " + v + ": expected on or off"; } },
};
// clang-format on

const Option* findOption(const std::string& name)
{
    const auto found = std::ranges::find_if(kOptions, [&name](const Option& o) { return name == o.name; });
    return found == kOptions.end() ? nullptr : &*found;
}

const char* commandOption(Command command)
{
    const auto found
        = std::ranges::find_if(kOptions, [command](const Option& o) { return o.starts == command; });
    return found == kOptions.end() ? "" : found->name;
}

// "--send", "--send or --selftest", "--check, --send or --selftest".
std::string commandList(unsigned commands)
{
    std::vector<std::string> names;
    for (const Option& option : kOptions)
        if (option.starts != Command::Window && (commands & bit(option.starts)))
            names.push_back(option.name);
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

std::string setCommand(CommandLine& line, Command command)
{
    std::string error;
    if (line.command != Command::Window && line.command != command)
        error = std::string(commandOption(line.command)) + " and " + commandOption(command)
            + " cannot be given together";
    else if (line.command == command)
        error = std::string(commandOption(command)) + " given twice";
    line.command = command;
    return error;
}

std::string takeOption(CommandLine& line, const Option& option, const std::string& value)
{
    if (option.starts != Command::Window)
        if (std::string error = setCommand(line, option.starts); !error.empty())
            return error;
    return option.take ? option.take(line, value) : std::string();
}

// The options given with a command they do not belong to, and the rules between two options.
std::string combinationError(const CommandLine& line, std::span<const Option* const> given)
{
    for (const Option& option : kOptions)
        if (option.goesWith != 0 && !(option.goesWith & bit(line.command))
            && std::ranges::find(given, &option) != given.end())
            return std::string(option.name) + " goes with " + commandList(option.goesWith);
    if (line.hex && !parseHexBytes(line.sendText))
        return "--send " + line.sendText + ": not hex bytes (e.g. \"41 42 0d\")";
    if (line.hex && line.expectText && !parseHexBytes(*line.expectText))
        return "--expect " + *line.expectText + ": not hex bytes (e.g. \"41 42 0d\")";
    if (line.seconds && line.byteCount)
        return "--seconds and --bytes cannot be given together";
    if (line.internal && line.toPort)
        return "--internal and --to cannot be given together";
    if (line.command != Command::Window && line.toolkitArguments.size() > 1)
        return line.toolkitArguments[1] + ": toolkit options go with the window, not with "
            + commandOption(line.command);
    return {};
}

std::string optionWords(const Option& option)
{
    return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// "comtest --send TEXT [--json] [--com COMn] ...", wrapped under the usage's width.
std::string synopsis(const Option& command)
{
    std::vector<std::string> words { "comtest", optionWords(command) };
    for (const Option& option : kOptions)
        if (option.goesWith & bit(command.starts))
            words.push_back(std::string("[").append(optionWords(option)).append("]"));
    words.push_back("[--port COMn=DEVICE]...");
    words.push_back("[--loopback]");
    std::string text = "       ";
    size_t column = text.size();
    for (const auto& word : words) {
        if (column + word.size() + 1 > kUsageWidth) {
            text.back() = '\n';
            text += "               ";
            column = 15;
        }
        text += word + " ";
        column += word.size() + 1;
    }
    text.back() = '\n';
    return text;
}

std::string helpLines(const Option& option)
{
    std::string words = "  " + optionWords(option);
    words += words.size() + 1 > kHelpColumn ? "\n" + std::string(kHelpColumn, ' ')
                                            : std::string(kHelpColumn - words.size(), ' ');
    std::string text;
    size_t from = 0;
    for (size_t end; (end = std::string_view(option.help).find('\n', from)) != std::string_view::npos;
         from = end + 1)
        text += std::string(option.help + from, end - from) + "\n" + std::string(kHelpColumn, ' ');
    return words + text + (option.help + from) + "\n";
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
    std::vector<const Option*> given;
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
        // "--option=value" or "--option value".
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::optional<std::string> value;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        const Option* option = findOption(name);
        if (!option) {
            line.error = "unknown option: " + name;
            break;
        }
        if (option->value && !value) {
            // The next word is the value even when it starts with dashes: --send "--" sends two dashes.
            if (i + 1 >= argc) {
                line.error = name + " needs a value";
                break;
            }
            value = argv[++i];
        } else if (!option->value && value) {
            line.error = name + " takes no value";
            break;
        }
        given.push_back(option);
        line.error = takeOption(line, *option, value.value_or(""));
    }
    if (line.error.empty() && !line.help && !line.version)
        line.error = combinationError(line, given);
    return line;
}

std::string versionText()
{
    return std::string("comtest ") + COMTEST_VERSION + "\n";
}

std::string usageText()
{
    std::string text = "Usage: comtest [OPTION]... [TOOLKIT OPTION]...      open the window\n";
    for (const Option& option : kOptions)
        if (option.starts != Command::Window)
            text += synopsis(option);
    text += "Exercise an RS232 serial port: send typed text and show what comes back.\n\nOptions:\n";
    for (const Option& option : kOptions)
        if (option.starts == Command::Window && option.goesWith == 0)
            text += helpLines(option);
    text += "\nCommands without a window (no display needed):\n";
    for (const Option& option : kOptions)
        if (option.starts != Command::Window)
            text += helpLines(option);
    text += "\nOptions of the commands:\n";
    for (const Option& option : kOptions)
        if (option.goesWith != 0)
            text += helpLines(option);
    return text
        + "\n"
          "Examples:\n"
          "  comtest --loopback --list-ports\n"
          "  comtest --loopback --check COM1\n"
          "  comtest --loopback --send hello --expect hello\n"
          "  comtest --loopback --hex --send \"41 42 0d\" --expect \"41 42 0d\"\n"
          "  comtest --loopback --selftest\n"
          "  comtest --loopback --stress --seconds 2 --json\n"
          "  comtest --stress --com COM1 --to COM2\n"
          "\n"
          "Single-dash options (-platform, -display, -style, ...) are passed to Qt.\n"
          "Exit status: 0 when the window was closed, or the answer is yes (port free, reply\n"
          "matched, every row passed, every byte came back exact, the list printed); 1 when the\n"
          "answer is no (port not available or its settings refused, reply did not match, a row\n"
          "failed, a byte lost, corrupted or extra, an error counter rose); 2 on bad arguments or\n"
          "a settings file that cannot be read; 3 when the port of a command other than --check\n"
          "could not be opened or configured, vanished or lost its carrier, there is no UART\n"
          "behind it, or its driver offers no loop mode for --internal or no modem lines for\n"
          "--lines.\n";
}
