#include "RunProgram.h"

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
