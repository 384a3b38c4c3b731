// The one process-wide registry of what the design's globals do not hold: which device each COMn
// name stands for, the built-in loop-back device, the ports that this process holds, the lock files
// it made, and a lock-free record of what sits on each port we hold (our locks, our lock file, a
// UART's loop mode), so that every way out of the process, a signal too, can release it.
#pragma once

#include <atomic>
#include <csignal>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class PortRegistry {
public:
    static PortRegistry& instance();

    // "COM" followed by a decimal number >= 1 without leading zeros; anything else is no COM name.
    static std::optional<unsigned> comNumber(const std::string& name);

    // Maps COMn to a device path; the last mapping of a number wins.
    void mapComPort(unsigned number, const std::string& devicePath);

    // The device a port name stands for: a mapped COMn, else /dev/ttyS<n-1> for COMn. A name that
    // is not a COM name stands for no device (it is never opened as a path).
    std::optional<std::string> deviceFor(const std::string& portName) const;

    // The COM number that stands for the device unless mapped elsewhere: /dev/ttyS<k> is COM<k+1>.
    static std::optional<unsigned> defaultComNumber(const std::string& devicePath);

    // Every explicit mapping (from --port and --loopback), by COM number.
    std::map<unsigned, std::string> explicitMappings() const;

    // The ports this process holds now, with the lock file each one holds ("" when none).
    void noteHeld(int handle, const std::string& device, const std::string& lockFile);
    void noteReleased(int handle);
    std::optional<std::string> lockFileOf(int handle) const;
    std::optional<std::string> deviceOf(int handle) const;

    // Our own lock files, by path: the descriptor that holds each one's flock and the process that
    // made it (a forked child's copy of this table is not its own).
    struct OwnLockFile {
        int fd = -1;
        int maker = 0;
    };
    void noteLockFile(const std::string& path, const OwnLockFile& file);
    std::optional<OwnLockFile> lockFile(const std::string& path) const;
    void forgetLockFile(const std::string& path);

    // What the exit path releases, lock-free so that a signal handler may read it: a slot's fields
    // are written before it is published (state kHeld) and it is withdrawn before it is reused; a
    // slot's lock file counts once lockFd is set, its path written before.
    struct HeldPort {
        static constexpr int kFree = 0, kClaimed = 1, kHeld = 2;
        std::atomic<int> state { kFree };
        int port = -1;
        int maker = 0; // a forked child's copy of the record is not its own
        std::atomic<int> lockFd { -1 };
        char lockPath[256] {};
    };
    struct ExitRecord {
        static constexpr int kSignals[] = { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE };
        HeldPort ports[32];
        std::atomic<int> held { 0 }; // ports in the record: the signals are ours while it is not 0
        std::atomic<int> loopPort { -1 }; // the port in a UART's loop mode
        std::atomic<unsigned> deferred { 0 }; // bit per signal that a command ends by itself
        std::atomic<int> caught { 0 }; // the deferred signal that came
        struct sigaction previous[std::size(kSignals)] {};
    };
    ExitRecord& exitRecord() { return exitRecord_; }

    // Forgets every mapping and held port (for tests); lock files made stay ours to remove.
    void reset();

private:
    PortRegistry() = default;
    mutable std::mutex mutex_;
    std::map<unsigned, std::string> mappings_;
    std::map<int, std::pair<std::string, std::string>> held_;
    std::map<std::string, OwnLockFile> lockFiles_;
    ExitRecord exitRecord_;
};

} // namespace platform
