#include "RunProgram.h"

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
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
        + std::string(haveProgram() ? std::getenv("COMTEST_BINARY") : "false") + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char chunk[4096];
    while (size_t got = pipe ? std::fread(chunk, 1, sizeof chunk, pipe) : 0)
        run.out.append(chunk, got);
    const int status = pipe ? ::pclose(pipe) : -1;
    run.status = pipe && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
