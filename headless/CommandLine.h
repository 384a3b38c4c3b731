// The command line: options of ours (double dash) and the toolkit's (single dash, passed on).
#pragma once

#include <optional>
#include <string>
#include <vector>

struct PortMapping {
    unsigned comNumber = 0;
    std::string device; // empty for the built-in loop-back port
};

// What the program is asked to do: open the window, or answer one question without a display.
enum class Command { Window, ListPorts, Check, Send, SelfTest };

struct CommandLine {
    bool help = false;
    bool version = false;
    std::vector<PortMapping> mappings; // in the order given; the last one of a number wins
    std::vector<std::string> toolkitArguments; // argv[0] first, then what the toolkit takes
    std::string error; // a one-line reason when the arguments are bad

    Command command = Command::Window;
    std::string checkPort; // --check COMn
    std::string sendText; // --send TEXT, as given (hex digits with --hex)
    std::optional<std::string> expectText; // --expect TEXT, as given
    std::optional<std::string> comPort; // --com COMn
    std::optional<std::string> settingsFile; // --settings FILE
    std::optional<int> waitMs; // --wait MS
    bool hex = false; // --hex: TEXT and --expect are hex bytes
    bool json = false; // --json: --list-ports for scripts
    bool internal = false; // --internal: --selftest through the UART's own loop mode, no plug

    bool usesLoopback() const;
};

CommandLine parseCommandLine(int argc, char** argv);
std::string usageText();
std::string versionText();
