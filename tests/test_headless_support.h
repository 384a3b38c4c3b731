// Helpers of the headless command tests: the real binary run in the background (so that a test can
// be the far end of the cable meanwhile), settings files, and output lines.
#pragma once

#include "support/RunProgram.h"

#include "serial/SettingsFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace headless_test {

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The comtest binary started with args (no shell, no display); its PID is the program's own.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::vector<std::string>& args)
    {
        const char* binary = std::getenv("COMTEST_BINARY");
        int out[2];
        if (!binary || pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> all { binary };
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("QT_QPA_PLATFORM");
            execv(binary, argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
    }
    ~BackgroundProgram()
    {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            close(output_);
    }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    pid_t pid() const { return pid_; }

    // Collects the output until the program ends, then its status.
    ProgramRun finish()
    {
        ProgramRun run;
        char chunk[4096];
        for (ssize_t got; output_ >= 0 && (got = read(output_, chunk, sizeof chunk)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break;
            run.out.append(chunk, static_cast<size_t>(got));
        }
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            waited_ = true;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return run;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    bool waited_ = false;
};

// A folder of its own for one test, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/comtest-headless-XXXXXX";
        if (mkdtemp(pattern))
            path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Writes a settings file as the window's Save writes it; "" when it cannot.
inline std::string writeSettingsFile(const std::string& path, const std::string& portName, double baud,
    uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    const platform::LineSettings settings { platform::lineSpeed(baud), parity, byteSize, stopBits, portName };
    const auto bytes = settings_file::encode(settings, settings_file::Block {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        ADD_FAILURE() << "cannot write " << path;
        return {};
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
}

} // namespace headless_test
