#include "RunProgram.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

bool haveProgram()
{
    return std::getenv("COMTEST_BINARY") != nullptr;
}

ProgramRun runProgram(const std::string& args)
{
    ProgramRun run;
    const char* binary = std::getenv("COMTEST_BINARY");
    if (!binary)
        return run;
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(binary)
        + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> chunk {};
    while (size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe))
        run.out.append(chunk.data(), got);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
