// Parses a command line given as words, as main() would get it after the program's name.
#pragma once

#include "headless/CommandLine.h"

#include <string>
#include <vector>

inline CommandLine parseWords(std::vector<std::string> args)
{
    args.insert(args.begin(), "comtest");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}
