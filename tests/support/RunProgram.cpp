#include "RunProgram.h"

#include "ParseArguments.h"
#include "headless/Commands.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/Loopback.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

std::pair<int, std::string> runProgram(const std::string& args)
{
    const char* binary = std::getenv("COMTEST_BINARY"); // without it every run fails
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
        + std::string(binary ? binary : "false") + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        out += static_cast<char>(c);
    const int status = ::pclose(pipe);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, out };
}

std::pair<int, std::string> runWords(std::string words)
{
    if (const size_t bang = words.find('!'); bang != std::string::npos)
        return runProgram(words.erase(bang, 1));
    const CommandLine line = parseLine(words);
    platform::Loopback loopback;
    platform::PortRegistry::instance().reset();
    for (const auto& mapping : line.mappings)
        platform::PortRegistry::instance().mapComPort(mapping.comNumber,
            mapping.device.empty() && loopback.start() ? loopback.devicePath() : mapping.device);
    std::ostringstream out;
    std::ostringstream err;
    const int status = line.error.empty() ? headless::runCommand(line, out, err) : -2;
    return { status, out.str() + err.str() };
}
