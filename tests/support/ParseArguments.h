// Command lines and tables of cases, written as text.
#pragma once

#include "headless/CommandLine.h"

#include <iterator>
#include <regex>
#include <sstream>

// Parses a line of words between blanks as main() would get them: "--send hi --expect hi".
inline CommandLine parseLine(const std::string& line)
{
    std::istringstream in("comtest " + line);
    std::vector<std::string> args { std::istream_iterator<std::string>(in), {} };
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The rows of a table written as text: a row a line, its cells between " | ".
inline std::vector<std::vector<std::string>> rowsOf(const std::string& table)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(table);
    const std::regex bar(" \\| ");
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            rows.push_back({ std::sregex_token_iterator(line.begin(), line.end(), bar, -1), {} });
    return rows;
}
