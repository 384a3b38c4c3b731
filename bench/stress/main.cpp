// The stress run's cost: comtest --stress on a pty pair set to 3,000,000 baud, whose far end echoes
// in another process, measured in verified bytes per second of comtest's own CPU time (getrusage
// of the child), beside a plain copy through the same pty pair (write, read back, no check): the
// kernel's own limit.
//
// Usage: comtest_stressbench COMTEST [SECONDS]
#include "serial/SettingsFile.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kBaud = 3000000;
constexpr size_t kInFlight = 30000; // 100 ms at 3 Mbaud, 10 bits a character, as --stress keeps

double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The far end: echoes everything, in a process of its own, until killed.
pid_t startEcho(int master)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<char> buffer(65536);
    for (;;) {
        const ssize_t got = read(master, buffer.data(), buffer.size());
        for (ssize_t done = 0; got > 0 && done < got;) {
            const ssize_t took = write(master, buffer.data() + done, size_t(got - done));
            done += took > 0 ? took : 0;
        }
        if (got <= 0)
            poll(nullptr, 0, 1);
    }
}

// A plain copy in a child process: keeps kInFlight bytes in flight, reads them back unchecked.
// Prints bytes per CPU second and per second of wall time.
void plainCopy(const std::string& slave, double seconds)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        std::vector<char> out(kInFlight, 'x');
        std::vector<char> in(65536);
        uint64_t copied = 0;
        uint64_t sent = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            const bool room = sent - copied < kInFlight;
            pollfd entry { fd, short(POLLIN | (room ? POLLOUT : 0)), 0 };
            poll(&entry, 1, 100);
            const ssize_t got = (entry.revents & POLLIN) ? read(fd, in.data(), in.size()) : 0;
            copied += got > 0 ? uint64_t(got) : 0;
            const ssize_t took
                = (entry.revents & POLLOUT) ? write(fd, out.data(), kInFlight - (sent - copied)) : 0;
            sent += took > 0 ? uint64_t(took) : 0;
        }
        std::printf("%llu\n", static_cast<unsigned long long>(copied));
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMTEST [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5;
    int master = -1;
    int slave = -1;
    char name[128] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0)
        return 1;
    const pid_t echo = startEcho(master);

    const std::string settings = "/tmp/comtest-stressbench-" + std::to_string(getpid());
    const auto bytes = settings_file::encode({ platform::lineSpeed(kBaud), 0, 8, 0, "COM1" }, {});
    if (FILE* file = std::fopen(settings.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const std::string command = std::string(argv[1]) + " --port COM1=" + name + " --settings " + settings
        + " --stress --json --seconds " + std::to_string(int(seconds));
    rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        out += char(c);
    const int status = pipe ? pclose(pipe) : -1;
    rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);
    const double cpu = cpuSeconds(after) - cpuSeconds(before);
    const auto report = nlohmann::json::parse(out, nullptr, false);
    const double verified = report.is_object() ? report["directions"][0].value("verified", 0.0) : 0.0;
    const double wall = report.is_object() ? report.value("seconds", 1.0) : 1.0;
    std::printf("comtest --stress: exit %d, %.0f bytes verified in %.2f s (%.1f MB/s), %.3f s CPU: %.1f MB "
                "per CPU second (target >= 50)\n",
        WEXITSTATUS(status), verified, wall, verified / wall / 1e6, cpu, verified / cpu / 1e6);

    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    std::FILE* copied = tmpfile();
    const int saved = dup(1);
    dup2(fileno(copied), 1);
    plainCopy(name, seconds);
    dup2(saved, 1);
    const double copyWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);
    rewind(copied);
    unsigned long long copiedBytes = 0;
    if (std::fscanf(copied, "%llu", &copiedBytes) != 1)
        copiedBytes = 0;
    const double copyCpu = cpuSeconds(after) - cpuSeconds(before);
    std::printf("plain copy:       %llu bytes in %.2f s (%.1f MB/s), %.3f s CPU: %.1f MB per CPU second\n",
        copiedBytes, copyWall, double(copiedBytes) / copyWall / 1e6, copyCpu,
        double(copiedBytes) / copyCpu / 1e6);
    kill(echo, SIGKILL);
    waitpid(echo, nullptr, 0);
    unlink(settings.c_str());
    return WEXITSTATUS(status);
}
