#include "ProcessProbe.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace probe {

pid_t spawnQuiet(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool runToEnd(const std::vector<std::string>& argv)
{
    const pid_t pid = spawnQuiet(argv);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double cpuSeconds(pid_t pid)
{
    clockid_t clock {};
    timespec time {};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &time) != 0)
        return -1;
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

Memory memoryOf(pid_t pid)
{
    Memory memory;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        std::istringstream fields(line);
        std::string key;
        double kib = 0;
        fields >> key >> kib;
        if (key == "Rss:")
            memory.rssMiB = kib / 1024;
        else if (key == "Pss:")
            memory.pssMiB = kib / 1024;
    }
    return memory;
}

bool holdsFile(pid_t pid, const std::string& path)
{
    std::error_code error;
    const std::filesystem::path folder = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError) == path)
            return true;
    }
    return false;
}

bool isRunning(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> splitCommand(const std::string& command)
{
    std::vector<std::string> words;
    std::istringstream stream(command);
    std::string word;
    while (stream >> word)
        words.push_back(word);
    return words;
}

} // namespace probe
