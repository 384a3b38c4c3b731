// Runs the real comtest binary (COMTEST_BINARY, set by ctest) in a shell and captures its output;
// and writes the settings files that it reads.
#pragma once

#include "serial/SettingsFile.h"

#include <fstream>
#include <string>

struct ProgramRun {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out; // stdout and stderr together
};

bool haveProgram(); // true when the binary is known; tests skip otherwise

// Runs "comtest ARGS" with no display at all (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM unset).
ProgramRun runProgram(const std::string& args);

// Writes a settings file as the window's Save writes it; returns its path.
inline std::string writeSettingsFile(const std::string& path, const std::string& portName, double baud,
    uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    const auto bytes = settings_file::encode(
        { platform::lineSpeed(baud), parity, byteSize, stopBits, portName }, settings_file::Block {});
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}
