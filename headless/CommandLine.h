// The command line: options of ours (double dash) and the toolkit's (single dash, passed on).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PortMapping {
    unsigned comNumber = 0;
    std::string device; // empty for the built-in loop-back port
};

// What the program is asked to do: open the window, or answer one question without a display.
enum class Command { Window, ListPorts, Check, Send, SelfTest, Stress, Lines };

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
    std::optional<std::string> toPort; // --to COMm: --stress through a cable to a second port
    std::optional<std::string> settingsFile; // --settings FILE
    std::optional<int> waitMs; // --wait MS
    std::optional<int> seconds; // --seconds N: how long --stress runs
    std::optional<uint64_t> byteCount; // --bytes N: how much --stress sends each way
    std::optional<bool> rts; // --rts on|off: set by --lines before it reads
    std::optional<bool> dtr; // --dtr on|off
    bool hex = false; // --hex: TEXT and --expect are hex bytes
    bool json = false; // --json: one JSON document for scripts
    bool internal = false; // --internal: through the UART's own loop mode, no plug

    bool usesLoopback() const;
};

CommandLine parseCommandLine(int argc, char** argv);
std::string usageText();
std::string versionText();
