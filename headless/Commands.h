// The commands that answer one question without a window, for scripts, CI jobs and production
// lines: list the ports, check one, exchange one message, run the loop-back self-test, stress the
// line with sustained traffic, read the modem lines. With --json each prints one JSON document.
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

// Opens and configures the port of a command; on failure says why on err, in one line, and in
// reason when given.
bool openForCommand(platform::PortHandle& port, const platform::LineSettings& request, std::ostream& err,
    std::string* reason = nullptr);

// Ends a command whose port failed: with --json, also its document on out, "error" saying why.
int portFailed(const CommandLine& line, const char* command, const std::string& portName,
    const std::string& reason, std::ostream& out);

int listPorts(const CommandLine& line, std::ostream& out);
int checkPort(const CommandLine& line, const platform::LineSettings& request, std::ostream& out);
int sendAndCompare(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err);
// line.internal: through the UART's own loop mode instead of a plug.
int selfTest(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err);
int stress(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err);
int readLines(
    const CommandLine& line, const platform::LineSettings& request, std::ostream& out, std::ostream& err);

} // namespace headless
