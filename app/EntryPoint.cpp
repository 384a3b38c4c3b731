// comtest: exercise an RS232 serial port.
#include "app/Startup.h"
#include "headless/CommandLine.h"
#include "headless/Commands.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/Loopback.h"

#include <iostream>
#include <vector>

namespace {

// Applies the mappings in the order given, so that the last mapping of a name wins.
bool applyMappings(const CommandLine& line, platform::Loopback& loopback)
{
    if (line.usesLoopback() && !loopback.start()) {
        std::cerr << "comtest: the built-in loop-back port could not be made (no pseudo-terminal)\n";
        return false;
    }
    for (const auto& mapping : line.mappings)
        platform::PortRegistry::instance().mapComPort(
            mapping.comNumber, mapping.device.empty() ? loopback.devicePath() : mapping.device);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Parsed before the toolkit starts, so that these work without a display.
    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::cerr << "comtest: " << line.error << "\n" << usageText();
        return 2;
    }
    if (line.help) {
        std::cout << usageText();
        return 0;
    }
    if (line.version) {
        std::cout << versionText();
        return 0;
    }
    platform::Loopback loopback;
    if (!applyMappings(line, loopback))
        return 1;
    if (line.command != Command::Window)
        return headless::runCommand(line, std::cout, std::cerr);
    std::vector<char*> toolkitArgs;
    for (const auto& arg : line.toolkitArguments)
        toolkitArgs.push_back(const_cast<char*>(arg.c_str()));
    toolkitArgs.push_back(nullptr);
    return runApplication(static_cast<int>(toolkitArgs.size()) - 1, toolkitArgs.data());
}
