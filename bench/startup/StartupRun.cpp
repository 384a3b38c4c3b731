#include "StartupRun.h"

#include "ProcessProbe.h"

#include <chrono>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal whose far end nobody drives: the receive test polls it and finds nothing.
class QuietPty {
public:
    QuietPty()
    {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
            // Only the device name is handed on; the program opens it itself.
            close(slave_);
        }
    }
    ~QuietPty()
    {
        if (master_ >= 0)
            close(master_);
    }
    const std::string& path() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

std::string substitute(std::string text, const std::string& key, const std::string& value)
{
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

void sleepSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Percent of one core that the process used over the next `seconds`.
double cpuPercentOver(pid_t pid, double seconds)
{
    const double before = probe::cpuSeconds(pid);
    const auto start = Clock::now();
    sleepSeconds(seconds);
    const double after = probe::cpuSeconds(pid);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return before < 0 || after < 0 ? -1 : 100.0 * (after - before) / elapsed;
}

bool waitUntilHeld(pid_t pid, const std::string& path, double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (probe::holdsFile(pid, path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Gives the window the input focus and types the keys that reach the receive test's button.
bool startReceiveTest(uint32_t window, const std::string& keys)
{
    std::vector<std::string> command { "xdotool", "windowfocus", "--sync", std::to_string(window), "sleep",
        "0.3", "key", "--delay", "100" };
    for (const auto& key : probe::splitCommand(keys))
        command.push_back(key);
    return probe::runToEnd(command);
}

void measureReceivePhase(const Candidate& candidate, const RunSettings& settings, uint32_t window, pid_t pid,
    const QuietPty& pty, RunResult& result)
{
    if (!startReceiveTest(window, candidate.receiveKeys))
        result.failure = "xdotool failed";
    else if (!waitUntilHeld(pid, pty.path(), 5))
        result.failure = "the receive test did not open the port";
    else {
        result.receiveCpuPercent = cpuPercentOver(pid, settings.receiveSeconds);
        if (!probe::holdsFile(pid, pty.path()))
            result.failure = "the receive test let go of the port";
    }
}

} // namespace

RunResult measureOnce(const Candidate& candidate, const RunSettings& settings, MapWatcher& watcher)
{
    RunResult result;
    QuietPty pty;
    const std::string command
        = substitute(substitute(candidate.command, "{pty}", pty.path()), "{size}", settings.size);
    watcher.discardPending();
    const auto start = Clock::now();
    const pid_t pid = probe::spawnQuiet(probe::splitCommand(command));
    if (pid <= 0) {
        result.failure = "could not start " + command;
        return result;
    }
    const auto mapped = watcher.waitForMap(
        candidate.title, start + std::chrono::seconds(30), [pid] { return probe::isRunning(pid); });
    if (!mapped.window) {
        result.failure = "no window titled \"" + candidate.title + "\" was mapped";
        probe::stop(pid);
        return result;
    }
    result.startupMs = std::chrono::duration<double, std::milli>(mapped.when - start).count();
    result.startupCpuMs = 1000 * probe::cpuSeconds(pid);
    result.windowSize = watcher.sizeOf(mapped.window);
    sleepSeconds(1);
    const probe::Memory memory = probe::memoryOf(pid);
    result.rssMiB = memory.rssMiB;
    result.pssMiB = memory.pssMiB;
    result.idleCpuPercent = cpuPercentOver(pid, settings.idleSeconds);
    if (!candidate.receiveKeys.empty())
        measureReceivePhase(candidate, settings, mapped.window, pid, pty, result);
    probe::stop(pid);
    result.ok = result.failure.empty();
    return result;
}
