// Runs the commands, in the real binary (COMTEST_BINARY, set by ctest) or in this process, and writes
// the settings files they read.
#pragma once

#include "serial/SettingsFile.h"

#include <fstream>
#include <string>

// Runs "comtest ARGS" with no display at all: its exit status (-1 when it did not exit) and output.
std::pair<int, std::string> runProgram(const std::string& args);
// Runs the words as main() runs them, in this process through the streams (-2: bad words); "!" in them
// runs the real binary instead.
std::pair<int, std::string> runWords(std::string words);

// Writes a settings file as the window's Save writes it.
inline void writeSettingsFile(
    const std::string& path, const std::string& port, double baud, uint8_t parity, uint8_t size, uint8_t stop)
{
    const auto bytes = settings_file::encode(
        { platform::lineSpeed(baud), parity, size, stop, port }, settings_file::Block {});
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
