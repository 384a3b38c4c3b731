// What the runner asks of the operating system about a program it started: start it quietly,
// read its CPU time and memory, see whether it holds a file, and stop it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace probe {

// Starts argv[0] (looked up in PATH) with stdin, stdout and stderr on /dev/null; -1 on failure.
pid_t spawnQuiet(const std::vector<std::string>& argv);

// Runs a helper command to its end; true when it exited with status 0.
bool runToEnd(const std::vector<std::string>& argv);

// CPU time of the whole process (all threads) in seconds, or a negative value when unknown.
double cpuSeconds(pid_t pid);

struct Memory {
    double rssMiB = 0;
    double pssMiB = 0;
};

// Resident and proportional set sizes from /proc/PID/smaps_rollup (zeros when unreadable).
Memory memoryOf(pid_t pid);

// Whether one of the process's open file descriptors is `path`.
bool holdsFile(pid_t pid, const std::string& path);

// Whether the process is still running (not exited, not a zombie that was reaped).
bool isRunning(pid_t pid);

// Asks the process to end (SIGTERM), kills it after two seconds, and reaps it.
void stop(pid_t pid);

// Splits a command on spaces (no quoting: paths with spaces are not supported).
std::vector<std::string> splitCommand(const std::string& command);

} // namespace probe
