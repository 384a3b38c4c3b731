#include "CommandLine.h"

#include "platform/PortRegistry.h"

namespace {

bool takesValue(const std::string& option)
{
    return option == "--port";
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

} // namespace

bool CommandLine::usesLoopback() const
{
    for (const auto& mapping : mappings)
        if (mapping.device.empty())
            return true;
    return false;
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
            if (i + 1 >= argc) {
                line.error = option + " needs a value";
                break;
            }
            value = argv[++i];
        } else if (!takesValue(option) && value) {
            line.error = option + " takes no value";
            break;
        }
        if (option == "--help")
            line.help = true;
        else if (option == "--version")
            line.version = true;
        else if (option == "--loopback")
            line.mappings.push_back({ 1, "" });
        else if (option == "--port") {
            if (auto mapping = parseMapping(*value, line.error))
                line.mappings.push_back(*mapping);
        } else
            line.error = "unknown option: " + option;
    }
    return line;
}

std::string versionText()
{
    return std::string("comtest ") + COMTEST_VERSION + "\n";
}

std::string usageText()
{
    return "Usage: comtest [OPTION]... [TOOLKIT OPTION]...\n"
           "Exercise an RS232 serial port: send typed text and show what comes back.\n"
           "\n"
           "Options:\n"
           "  --port COMn=DEVICE   let the port name COMn stand for DEVICE (repeatable; the last\n"
           "                       mapping of a name wins), e.g. --port COM1=/dev/ttyUSB0.\n"
           "                       Without one, COMn stands for /dev/ttyS<n-1>.\n"
           "  --loopback           let COM1 stand for a built-in loop-back port that echoes\n"
           "                       every byte (counts as a mapping of COM1)\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Single-dash options (-platform, -display, -style, ...) are passed to Qt.\n"
           "Exit status: 0 when the window was closed, 2 on bad arguments.\n";
}
