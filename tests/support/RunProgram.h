// Runs the real comtest binary (COMTEST_BINARY, set by ctest) in a shell and captures its output.
#pragma once

#include <string>

struct ProgramRun {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out; // stdout and stderr together
};

// True when the binary is known; tests skip otherwise.
bool haveProgram();

// Runs "comtest ARGS" with no display at all (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM unset).
ProgramRun runProgram(const std::string& args);
