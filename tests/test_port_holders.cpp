// Who holds a port, and what an open makes of it: the device's own locks, TIOCEXCL, lock files as
// minicom, Qt and we write them, and the real picocom, minicom and QLockFile.
#include "platform/discovery/LockFiles.h"
#include "platform/discovery/PortHolders.h"
#include "platform/registry/PortRegistry.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"

#include <QLockFile>
#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace platform;
using Way = HolderProcess::Way;

namespace {

std::string contentOf(const std::string& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), {} };
}
std::string minicomStyle(int pid)
{
    char line[16];
    std::snprintf(line, sizeof line, "%10d\n", pid);
    return line;
}
constexpr int kDeadPid = INT_MAX; // above any pid_max
// Ours: the PID right-aligned in 10 columns, our program's name and the host name.
std::string ourLockContent()
{
    char exe[PATH_MAX] = {};
    char host[HOST_NAME_MAX + 1] = {};
    EXPECT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    gethostname(host, sizeof host - 1);
    return minicomStyle(getpid()) + (strrchr(exe, '/') + 1) + "\n" + host + "\n";
}

// A port (a fresh pty), its lock file, and whoever holds it.
struct Held {
    PtyPair pty;
    std::string device = pty.slavePath();
    std::string lock = "/run/lock/LCK..pts_" + device.substr(9); // the node below /dev, / as _
    std::optional<HolderProcess> holder;
    PortHandle ours = kInvalidPort;
    const std::string& write(const std::string& content) { return std::ofstream(lock) << content, lock; }
    ~Held()
    {
        closePort(ours);
        unlink(lock.c_str()); // a pty's name is reused once it is gone
    }
};

} // namespace

// Each way of holding a port: what findHolders and liveLockHolder report, whether an open is refused,
// what becomes of the lock file, and whether the port is free once the holder is gone.
TEST(PortHolders, EachHolderIsReportedAndRefusesTheOpenUntilItIsGone)
{
    constexpr auto Busy = OpenFailure::Busy, None = OpenFailure::None;
    const struct {
        const char* what;
        void (*hold)(Held&);
        OpenFailure failure;
        bool live, locked, freeAfter; // liveLockHolder names the file's PID; the holder locks the device
    } rows[] = {
        { "flock by another process", [](Held& h) { h.holder.emplace(h.device); }, Busy, false, true, true },
        { "flock by another user",
            [](Held& h) { h.holder.emplace(h.device, geteuid() ? nullptr : getpwnam("nobody")); }, Busy,
            false, true, true },
        { "TIOCEXCL alone", [](Held& h) { h.holder.emplace(h.device, nullptr, Way::Exclusive); }, Busy, false,
            false, true },
        { "a session's terminal",
            [](Held& h) { h.holder.emplace(h.device, nullptr, Way::ControllingTerminal); },
            OpenFailure::ControllingTerminal, false, false, true },
        { "live minicom-style lock file",
            [](Held& h) { h.write(minicomStyle(h.holder.emplace([] { return true; }).pid())); }, Busy, true,
            false, true },
        { "lock file of a dead PID", [](Held& h) { h.write(minicomStyle(kDeadPid)); }, None, false, false,
            true },
        { "lock file naming us, not held", [](Held& h) { h.write(std::to_string(getpid()) + "\n"); }, None,
            false, false, true },
        { "lock file without a PID", [](Held& h) { h.write("  12ab\n"); }, Busy, false, false, false },
        { "lock file under flock naming a dead PID",
            [](Held& h) { h.holder.emplace(h.write(minicomStyle(kDeadPid))); } /* as Qt holds it */, Busy,
            true, false, true },
        { "QLockFile of another process",
            [](Held& h) {
                h.holder.emplace(
                    [l = h.lock] { return (new QLockFile(QString::fromStdString(l)))->tryLock(0); });
            },
            Busy, true, false, true },
        { "our own port, opened through a link",
            [](Held& h) {
                h.ours = openDeviceExclusive("/proc/self/fd/" + std::to_string(h.pty.slaveFd())).handle;
            },
            Busy, true, false, true },
    };
    const mode_t mask = umask(077); // ours is readable by every user's terminal program all the same
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Held held;
        row.hold(held);
        ASSERT_TRUE(!held.holder || held.holder->holding());
        const int holder = held.holder ? held.holder->pid() : 0;
        const std::string before = contentOf(held.lock);
        const int named = std::atoi(before.c_str());
        EXPECT_EQ(liveLockHolder(held.device), row.live ? std::optional(named) : std::nullopt);
        const PortHolders found = findHolders(held.device);
        EXPECT_EQ(found.lockFileHolder, row.live && named != getpid() ? std::optional(named) : std::nullopt);
        EXPECT_EQ(found.locked, row.locked);
        EXPECT_EQ(found.lockHolder, row.locked ? std::optional(holder) : std::nullopt);
        EXPECT_EQ(std::count(found.openBy.begin(), found.openBy.end(), holder), holder != 0)
            << "a child has it open";
        EXPECT_EQ(found.terminal.controllingSession,
            row.failure == OpenFailure::ControllingTerminal ? std::optional(holder) : std::nullopt);

        const OpenResult result = openDeviceExclusive(held.device);
        EXPECT_EQ(result.failure, row.failure);
        EXPECT_EQ(contentOf(held.lock), result.failure == OpenFailure::None ? ourLockContent() : before);
        struct stat status { };
        EXPECT_TRUE(result.failure != OpenFailure::None
            || (stat(held.lock.c_str(), &status) == 0 && (status.st_mode & 07777) == 0644));
        closePort(result.handle);
        EXPECT_EQ(
            access(held.lock.c_str(), F_OK) == 0, !before.empty() && result.failure != OpenFailure::None)
            << "ours is removed at the close, a refused open leaves none";

        held.holder.reset();
        closePort(std::exchange(held.ours, kInvalidPort));
        const OpenResult after = openDeviceExclusive(held.device);
        EXPECT_EQ(after.failure == OpenFailure::None, row.freeAfter);
        closePort(after.handle);
    }
    umask(mask);
}

// Our lock files of ports still open go at exit, and only the process that made one removes it.
TEST(PortHolders, ExitRemovesOnlyTheExitingProcesssLockFiles)
{
    Held ours, theirs;
    ours.ours = openDeviceExclusive(ours.device).handle;
    HolderProcess child([&] {
        std::exit(isPort(openDeviceExclusive(theirs.device).handle) ? 0 : 3);
        return false;
    });
    EXPECT_EQ(child.release(), 0) << "the child opened its port";
    EXPECT_NE(access(theirs.lock.c_str(), F_OK), 0);
    EXPECT_EQ(contentOf(ours.lock), ourLockContent());
}

// Qt takes neither a port we hold nor our lock file as stale, however old.
TEST(PortHolders, QLockFileRefusesAPortWeHold)
{
    Held held;
    held.ours = openDeviceExclusive(held.device).handle;
    for (const bool aged : { false, true }) {
        const timeval tenMinutesAgo[2] = { { time(nullptr) - 600, 0 }, { time(nullptr) - 600, 0 } };
        ASSERT_TRUE(!aged || utimes(held.lock.c_str(), tenMinutesAgo) == 0);
        HolderProcess qt([&] {
            QLockFile lock(QString::fromStdString(held.lock));
            qint64 pid = 0;
            QString host, application;
            return !lock.tryLock(0) && lock.getLockInfo(&pid, &host, &application) && pid == getppid();
        });
        EXPECT_TRUE(qt.holding()) << (aged ? "aged" : "fresh") << ": refused, reading our PID";
    }
    EXPECT_EQ(contentOf(held.lock), ourLockContent());
}

// picocom and minicom refuse a port we hold, and we refuse one that either holds; a killed one's
// leftovers do not keep it. Each runs on a terminal of its own, as a user runs it.
TEST(PortHolders, PicocomAndMinicomAndWeRefuseEachOthersPorts)
{
    const struct {
        const char *program, *option, *refusal;
    } programs[] = { { "picocom", "-q", "cannot lock" }, { "minicom", "-D", "is locked" } };
    for (const auto& row : programs)
        for (const bool weHoldFirst : { true, false }) {
            const char *program = row.program, *option = row.option;
            SCOPED_TRACE(std::string(program) + (weHoldFirst ? " after us" : " before us"));
            Held held;
            PtyPair terminal;
            if (weHoldFirst)
                held.ours = openDeviceExclusive(held.device).handle;
            held.holder.emplace([&] {
                setsid();
                const int fd = ::open(terminal.slavePath().c_str(), O_RDWR);
                ioctl(fd, TIOCSCTTY, 0);
                dup2(fd, 0), dup2(fd, 1), dup2(fd, 2);
                setenv("TERM", "vt100", 1);
                execlp(program, program, option, held.device.c_str(), nullptr);
                return true; // only when the program is missing
            });
            if (held.holder->holding()) {
                std::printf("%s is not installed: its rows are skipped\n", program);
                continue;
            }
            const pid_t pid = held.holder->pid();
            std::string screen;
            EXPECT_TRUE(PtyPair::waitUntil(
                [&] {
                    screen += terminal.readAvailable();
                    return weHoldFirst ? screen.find(row.refusal) != std::string::npos
                                       : findHolders(held.device).holder() == pid;
                },
                5s))
                << screen;
            EXPECT_EQ(openDeviceExclusive(held.device).failure, OpenFailure::Busy);
            held.holder->kill();
            EXPECT_TRUE(!weHoldFirst || contentOf(held.lock) == ourLockContent()) << "ours left alone";
            closePort(std::exchange(held.ours, kInvalidPort));
            held.ours = openDeviceExclusive(held.device).handle;
            EXPECT_TRUE(isPort(held.ours)) << "free once it is gone";
        }
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
