// Who holds a port, and what an open makes of it: device locks, TIOCEXCL, lock files, a real picocom.
#include "platform/discovery/LockFiles.h"
#include "platform/discovery/PortHolders.h"
#include "support/FolderContents.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"

#include <QLockFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/time.h>

using namespace std::chrono_literals;
using namespace platform;
using Way = HolderProcess::Way;

static std::string contentOf(const std::string& path)
{
    return { std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {} };
}

static std::string minicomStyle(int pid) // the PID right-aligned in 10 columns
{
    return std::string(10 - std::to_string(pid).size(), ' ') + std::to_string(pid) + "\n";
}

// A port (a fresh pty), its lock file, and whoever holds it.
struct Held {
    PtyPair pty;
    std::string device = pty.slavePath();
    std::string lock = "/run/lock/LCK..pts_" + device.substr(9); // the node below /dev, / as _
    std::optional<HolderProcess> holder;
    PortHandle ours = kInvalidPort;
    template <class... Args> bool by(Args... args) { return holder.emplace(args...).holding(); }
    bool write(const std::string& content) { return bool(std::ofstream(lock) << content); }
    ~Held() // a pty's name is reused once it is gone
    {
        closePort(ours);
        unlink(lock.c_str());
    }
};

// What is reported, whether an open is refused, the lock file's fate, and the port once the holder died.
TEST(PortHolders, EachHolderIsReportedAndRefusesTheOpenUntilItIsGone)
{
    using enum OpenFailure;
    const struct {
        const char* what;
        OpenFailure failure;
        bool live, locked, freeAfter; // liveLockHolder names the file's PID; the holder locks the device
        bool (*hold)(Held&);
    } rows[] = {
        { "flock", Busy, 0, 1, 1, [](Held& h) { return h.by(h.device); } },
        { "TIOCEXCL (stays)", Busy, 0, 0, 0, [](Held& h) { return h.by(h.device, Way::Exclusive); } },
        { "getty", ControllingTerminal, 0, 0, 1,
            [](Held& h) { return h.by(h.device, Way::ControllingTerminal); } },
        { "minicom-style lock file", Busy, 1, 0, 1,
            [](Held& h) { return h.by([] { return true; }) && h.write(minicomStyle(h.holder->pid())); } },
        { "lock file naming us", None, 0, 0, 1, [](Held& h) { return h.write(minicomStyle(getpid())); } },
        { "dead PID's lock file, flocked as Qt does", Busy, 1, 0, 1,
            [](Held& h) { return h.write(minicomStyle(INT_MAX)) && h.by(h.lock); } },
        { "QLockFile", Busy, 1, 0, 1,
            [](Held& h) { return h.by([l = h.lock] { return (new QLockFile(l.c_str()))->tryLock(0); }); } },
        { "our own port, opened through a link", Busy, 1, 0, 1,
            [](Held& h) {
                return isPort(
                    h.ours = openDeviceExclusive("/dev/fd/" + std::to_string(h.pty.slaveFd())).handle);
            } },
        { "picocom", Busy, 0, 1, 1,
            [](Held& h) {
                int in[2]; // its input stays open, as a user's terminal does
                return !h.by([&] {
                    return pipe(in) == 0 && dup2(in[0], 0) == 0
                        && execlp("picocom", "picocom", "-q", h.device.c_str(), nullptr);
                })
                    && PtyPair::waitUntil(
                        [&] { return findHolders(h.device).lockHolder == h.holder->pid(); }, 5s);
            } },
    };
    const mode_t mask = umask(077); // ours is readable by every user's terminal program all the same
    const long descriptors = openDescriptors();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Held held;
        ASSERT_TRUE(row.hold(held));
        const int holder = held.holder ? held.holder->pid() : 0;
        const std::string before = contentOf(held.lock);
        const int named = std::atoi(before.c_str());
        EXPECT_EQ(liveLockHolder(held.device), row.live ? std::optional(named) : std::nullopt);
        const PortHolders found = findHolders(held.device);
        EXPECT_EQ(found.lockFileHolder, row.live && named != getpid() ? std::optional(named) : std::nullopt);
        EXPECT_EQ(found.lockHolder, row.locked ? std::optional(holder) : std::nullopt);
        EXPECT_EQ(found.locked, row.locked) << "a lock on the node";
        EXPECT_EQ(found.openBy, std::vector<int>(holder != 0, holder)) << "the openers";
        EXPECT_EQ(found.terminal.controllingSession,
            row.failure == ControllingTerminal ? std::optional(holder) : std::nullopt);

        const OpenResult result = openDeviceExclusive(held.device);
        EXPECT_EQ(result.failure, row.failure);
        const bool opened = result.failure == None;
        EXPECT_EQ(contentOf(held.lock),
            opened ? minicomStyle(getpid()) + program_invocation_short_name + "\n"
                    + contentOf("/proc/sys/kernel/hostname")
                   : before);
        struct stat status { };
        const timeval tenMinutesAgo[2] = { { time(nullptr) - 600, 0 }, { time(nullptr) - 600, 0 } };
        if (opened) { // Qt takes a port we hold for taken however old our lock file is, and reads our PID
            EXPECT_EQ(stat(held.lock.c_str(), &status) == 0 ? status.st_mode & 07777 : 0, 0644u);
            EXPECT_EQ(utimes(held.lock.c_str(), tenMinutesAgo), 0);
            const HolderProcess qt([&] {
                QLockFile lock(held.lock.c_str());
                qint64 pid = 0;
                return !lock.tryLock(0) && lock.getLockInfo(&pid, nullptr, nullptr) && pid == getppid();
            });
            EXPECT_EQ(qt.holding(), true) << "Qt reads our aged lock file as live";
        }
        closePort(result.handle);
        EXPECT_EQ(access(held.lock.c_str(), F_OK) == 0, !before.empty() && !opened) << "left at the close";

        if (held.holder) // killed, leaving what it held as a dead process does
            ::kill(held.holder->pid(), SIGKILL);
        held.holder.reset();
        closePort(held.ours);
        EXPECT_EQ(isPort(held.ours = openDeviceExclusive(held.device).handle), row.freeAfter);
    }
    umask(mask);
    EXPECT_EQ(openDescriptors(), descriptors) << "the looks at /proc leave nothing open";
}

// Line 1 as minicom and lockdev read it: a live PID names the holder; a number that cannot be a PID
// keeps the port held (it cannot be judged); a dead PID's file is stale and removed.
TEST(LockFiles, TheFirstLineNamesTheHolderOrKeepsThePortHeld)
{
    HolderProcess live([] { return true; });
    const std::string pid = std::to_string(live.pid());
    const std::pair<std::string, std::string> rows[] { { "  " + pid + "\n", pid }, { pid, pid },
        { "\t" + pid + " comtest\n", pid }, { pid + "\r\n", pid }, { pid + "x\n", "held" }, { "0\n", "held" },
        { "1\n", "1" }, { "-1\n", "held" }, { "2147483648\n", "held" }, { "\n" + pid, "held" },
        { "", "held" }, { "2147483647\n", "stale" }, { " 2147483647 x\n", "stale" } };
    for (const auto& [content, verdict] : rows) {
        Held held;
        ASSERT_TRUE(held.write(content));
        const std::optional<int> holder = liveLockHolder(held.device);
        EXPECT_EQ(access(held.lock.c_str(), F_OK), 0) << "a look removes nothing: " << content;
        const bool kept = !clearStaleLockFiles(held.device);
        EXPECT_EQ(holder ? std::to_string(*holder) : kept ? "held" : "stale", verdict) << content;
        EXPECT_EQ(access(held.lock.c_str(), F_OK) == 0, verdict != "stale") << "file left: " << content;
    }
}
