// The commands that answer one question without a window, for scripts, CI jobs and production
// lines: list the ports, check one, exchange one message, run the loop-back self-test.
//
// They run before the toolkit starts (no display, no window) and share the window's rules: the
// port opens through the same registry and exclusive open, "TX Start" and its 128-byte receive
// are the same code, and a settings file is read by the same decoder as the window's Open.
// Exit statuses, the same for every command, are the values of ExitStatus.
#pragma once

#include "headless/CommandLine.h"
#include "serial/PortRules.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace headless {

enum ExitStatus : int {
    kYes = 0, // port free, reply matched, every row passed, the list printed
    kNo = 1, // port not available or its settings refused, reply did not match, a row failed
    kBadInput = 2, // bad arguments, or a settings file that cannot be read or is not ours
    kPortFailed = 3, // the port of an exchange could not be opened or configured, or went away
};

// Runs line.command (not the window); the answer goes to out, reasons of failure to err.
int runCommand(const CommandLine& line, std::ostream& out, std::ostream& err);

// The line the command uses: --settings FILE or the defaults (19200, 8N1), on the port named by
// portName when given, else --com, else the file's port name, else COM1. Nothing when the file
// cannot be read or is not a settings file; reason then says why in one line.
std::optional<platform::LineSettings> chooseLine(
    const CommandLine& line, const std::optional<std::string>& portName, std::string& reason);

// "19200 baud, 8 data bits, parity None, stop bits 1", with the settings dialog's names.
std::string describeSettings(const platform::LineSettings& settings);

// "COM1 (/dev/ttyS0)": the name and the device it stands for now.
std::string portLabel(const std::string& portName);

// "12 (picocom)": the process id, and its program's name when it can be seen.
std::string processLabel(int pid);

// The processes' labels, each after prefix, separated by ", ".
std::string processList(const std::vector<int>& pids, const std::string& prefix = "");

// Why an open failed, in one phrase: "busy: held by PID 12 (picocom), flock", "no UART behind
// /dev/ttyS3", "missing: no device /dev/ttyUSB0".
std::string openFailureText(const platform::OpenResult& opened);

// Why a configured port cannot go on: "port vanished", "carrier lost (hang-up)"; "" while it is up.
std::string lineStateText(platform::LineState state);

// Opens and configures the port of --send or --selftest; on failure says why on err, in one line.
bool openForCommand(platform::PortHandle& port, const platform::LineSettings& request, std::ostream& err);

int listPorts(const CommandLine& line, std::ostream& out);
int checkPort(const platform::LineSettings& request, bool applySettings, std::ostream& out);
int sendAndCompare(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err);
// internal: through the UART's own loop mode instead of a plug.
int selfTest(const platform::LineSettings& request, bool internal, std::ostream& out, std::ostream& err);

} // namespace headless
