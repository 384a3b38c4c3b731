// comtest_scalebench: what an open, a close with input waiting, and the port list cost as the
// machine's process count grows, beside fuser on one port. Idle processes of 20 descriptors each
// stand in for a busy desktop's.
#include "platform/discovery/PortHolders.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
};

double cpuMs()
{
    rusage use {};
    getrusage(RUSAGE_SELF, &use);
    return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3
        + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
}

template <typename Work> Cost measure(Work work, int repeats = 5)
{
    const auto start = Clock::now();
    const double cpu = cpuMs();
    for (int i = 0; i < repeats; ++i)
        work();
    return { std::chrono::duration<double, std::milli>(Clock::now() - start).count() / repeats,
        (cpuMs() - cpu) / repeats };
}

// Idle children with 20 descriptors each; they die with us.
std::vector<pid_t> spawnIdle(int count)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int fd = 3; fd < 20; ++fd)
                open("/dev/null", O_RDONLY);
            pause();
            _exit(0);
        }
        pids.push_back(pid);
    }
    return pids;
}

double wallOfCommand(const std::string& command)
{
    const auto start = Clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) == -1)
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string comtest = argc > 1 ? argv[1] : "comtest";
    std::vector<int> masters;
    std::vector<std::string> slaves;
    for (int i = 0; i < 32; ++i) {
        int master = -1, slave = -1;
        char name[64] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return 1;
        close(slave);
        masters.push_back(master);
        slaves.push_back(name);
    }
    std::printf("%9s %5s %12s %12s %14s %14s %12s\n", "processes", "ports", "open ms", "open CPU ms",
        "close ms", "close CPU ms", "list ms");
    std::vector<pid_t> idle;
    const int most = argc > 2 ? std::atoi(argv[2]) : 3000;
    for (const int processes : { 100, 1000, 3000 }) {
        if (processes > most)
            break;
        const auto more = spawnIdle(processes - static_cast<int>(idle.size()) - 100);
        idle.insert(idle.end(), more.begin(), more.end());
        platform::PortRegistry::instance().mapComPort(1, slaves[0]);
        const Cost open = measure([] { platform::closePort(platform::openPortExclusive("COM1").handle); });
        Cost close; // the close alone, with a byte waiting, so that it asks who else has the port
        for (int i = 0; i < 5; ++i) {
            const auto port = platform::openPortExclusive("COM1").handle;
            platform::applyLineSettings(port, {});
            if (write(masters[0], "x", 1) != 1
                || !platform::waitForInput(port, Clock::now() + std::chrono::seconds(1)))
                std::fprintf(stderr, "no input waiting\n");
            const Cost one = measure([port] { platform::closePort(port); }, 1);
            close.wallMs += one.wallMs / 5;
            close.cpuMs += one.cpuMs / 5;
        }
        for (const int ports : { 1, 10, 32 }) {
            std::string maps;
            for (int i = 0; i < ports; ++i)
                maps += " --port COM" + std::to_string(i + 1) + "=" + slaves[size_t(i)];
            const double list = wallOfCommand(comtest + maps + " --list-ports");
            std::printf("%9d %5d %12.1f %12.1f %14.1f %14.1f %12.1f\n", processes, ports, open.wallMs,
                open.cpuMs, close.wallMs, close.cpuMs, list);
        }
        std::printf("%9d fuser on one port: %.1f ms\n", processes, wallOfCommand("fuser " + slaves[0]));
    }
    for (const pid_t pid : idle)
        kill(pid, SIGKILL);
    while (wait(nullptr) > 0) { }
    return 0;
}
