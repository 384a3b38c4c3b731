// The command line: options of ours (double dash) and the toolkit's (single dash, passed on).
#pragma once

#include <optional>
#include <string>
#include <vector>

struct PortMapping {
    unsigned comNumber = 0;
    std::string device; // empty for the built-in loop-back port
};

struct CommandLine {
    bool help = false;
    bool version = false;
    std::vector<PortMapping> mappings; // in the order given; the last one of a number wins
    std::vector<std::string> toolkitArguments; // argv[0] first, then what the toolkit takes
    std::string error; // a one-line reason when the arguments are bad

    bool usesLoopback() const;
};

CommandLine parseCommandLine(int argc, char** argv);
std::string usageText();
std::string versionText();
