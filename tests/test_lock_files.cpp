#include "platform/discovery/LockFiles.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"
#include "support/PtyPair.h"

#include <QDir>
#include <QLockFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using platform::OpenFailure;
using platform::PortHandle;

namespace {

constexpr char kLockFolder[] = "/run/lock";

bool exists(const std::string& path)
{
    struct stat status { };
    return lstat(path.c_str(), &status) == 0;
}

std::string contentOf(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream whole;
    whole << in.rdbuf();
    return whole.str();
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int pidIn(const std::string& path)
{
    const auto lines = linesOf(contentOf(path));
    return lines.empty() ? 0 : std::atoi(lines[0].c_str());
}

bool isAlive(pid_t pid)
{
    return kill(pid, 0) == 0 || errno == EPERM;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path) << content;
}

std::string minicomStyle(pid_t pid)
{
    char line[16];
    std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
    return line;
}

// Reads a whole record from a pipe, or less once the deadline passed.
bool readWithin(int fd, void* into, size_t size, std::chrono::milliseconds timeout = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto* bytes = static_cast<char*>(into);
    size_t got = 0;
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry { fd, POLLIN, 0 };
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t took = read(fd, bytes + got, size - got);
        if (took <= 0)
            return false;
        got += static_cast<size_t>(took);
    }
    return true;
}

bool reapWithin(pid_t pid, int* status = nullptr, std::chrono::milliseconds timeout = 5s)
{
    int ignored = 0;
    return PtyPair::waitUntil(
        [&] { return waitpid(pid, status ? status : &ignored, WNOHANG) == pid; }, timeout);
}

std::optional<std::string> programOnPath(const std::string& name)
{
    std::stringstream folders(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return std::nullopt;
}

// A child process that runs body (which reports one int through the pipe) and then waits, until
// released, for the parent. Killing it instead leaves whatever it held as a dead process leaves it.
class WaitingChild {
public:
    explicit WaitingChild(const std::function<int()>& body)
    {
        if (pipe2(report_, O_CLOEXEC) != 0 || pipe2(release_, O_CLOEXEC) != 0)
            return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(report_[0]);
            close(release_[1]);
            const int value = body();
            if (write(report_[1], &value, sizeof value) != sizeof value)
                _exit(1);
            char ignored;
            while (read(release_[0], &ignored, 1) > 0) { }
            _exit(0);
        }
        close(report_[1]);
        close(release_[0]);
        reported_ = readWithin(report_[0], &value_, sizeof value_);
    }
    ~WaitingChild()
    {
        release();
        close(report_[0]);
    }

    pid_t pid() const { return pid_; }
    bool reported() const { return reported_; }
    int value() const { return value_; }

    // Lets the child end normally, and reaps it.
    void release()
    {
        if (release_[1] >= 0)
            close(release_[1]);
        release_[1] = -1;
        reap();
    }

    // Ends the child at once, without any clean-up of its own, and reaps it.
    void kill()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
        reap();
    }

private:
    void reap()
    {
        if (pid_ > 0) {
            EXPECT_TRUE(reapWithin(pid_)) << "child " << pid_ << " ended";
        }
        pid_ = -1;
    }

    int report_[2] = { -1, -1 };
    int release_[2] = { -1, -1 };
    pid_t pid_ = -1;
    bool reported_ = false;
    int value_ = 0;
};

// The PID of a process that has already ended and been reaped.
pid_t deadPid()
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    EXPECT_TRUE(reapWithin(pid));
    return pid;
}

// What QLockFile in another process makes of a lock file: 1 when it took the lock, 0 when refused;
// the PID it reads as the holder goes in holder.
int qtTryLockFromAnotherProcess(const std::string& path, int* holder)
{
    int result[2] = { -1, 0 };
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        QLockFile lock(QString::fromStdString(path));
        int answer[2] = { lock.tryLock(0) ? 1 : 0, 0 };
        qint64 pidRead = 0;
        QString host, application;
        if (lock.getLockInfo(&pidRead, &host, &application))
            answer[1] = static_cast<int>(pidRead);
        // Taken: leave the file as it was found gone, so that the test sees the outcome only.
        if (answer[0] == 1)
            lock.unlock();
        if (write(channel[1], answer, sizeof answer) != sizeof answer)
            _exit(1);
        _exit(0);
    }
    close(channel[1]);
    if (!readWithin(channel[0], result, sizeof result))
        result[0] = -1;
    close(channel[0]);
    reapWithin(pid);
    if (holder)
        *holder = result[1];
    return result[0];
}

// A terminal program run on a pseudo-terminal of its own, as a user would run it in a terminal.
class TerminalProgram {
public:
    explicit TerminalProgram(const std::vector<std::string>& argv)
    {
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        std::fflush(nullptr);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            setenv("TERM", "vt100", 1);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (master_ >= 0)
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~TerminalProgram()
    {
        stop();
        if (master_ >= 0)
            close(master_);
    }

    pid_t pid() const { return pid_; }

    // Waits until its screen showed text; false once the timeout passed.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout = 5s)
    {
        return PtyPair::waitUntil(
            [&] {
                drain();
                return output_.find(text) != std::string::npos;
            },
            timeout);
    }

    // Waits until it ended by itself; its wait status, or nothing once the timeout passed.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = 5s)
    {
        int status = 0;
        const bool ended = PtyPair::waitUntil(
            [&] {
                drain();
                return waitpid(pid_, &status, WNOHANG) == pid_;
            },
            timeout);
        if (!ended)
            return std::nullopt;
        pid_ = -1;
        return status;
    }

    const std::string& output()
    {
        drain();
        return output_;
    }

    // Ends it at once (no clean-up of its own) and reaps it.
    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGKILL);
        EXPECT_TRUE(reapWithin(pid_));
        pid_ = -1;
    }

private:
    void drain()
    {
        char buffer[4096];
        for (ssize_t got; master_ >= 0 && (got = read(master_, buffer, sizeof buffer)) > 0;)
            output_.append(buffer, static_cast<size_t>(got));
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string output_;
};

// Whether /proc/locks lists a flock taken by the process.
bool holdsFlock(pid_t pid)
{
    std::ifstream locks("/proc/locks");
    // Built up in steps: GCC 12 at -O3 takes " " + std::to_string(pid) for an overlapping copy.
    std::string owner = " ";
    owner += std::to_string(pid);
    owner += ' ';
    for (std::string line; std::getline(locks, line);)
        if (line.find("FLOCK") != std::string::npos && line.find(owner) != std::string::npos)
            return true;
    return false;
}

} // namespace

// A fresh pty as the port; the lock file that names it in the lock folder.
class LockFiles : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (PortHandle port : opened_)
            platform::closePort(port);
        platform::PortRegistry::instance().reset();
        // A pty's name is reused once it is gone; nothing of a test may outlive it.
        unlink(lockPath().c_str());
    }

    std::string lockPath() const
    {
        return std::string(kLockFolder) + "/" + platform::lockFileName(pty.slavePath());
    }

    platform::OpenResult open(const std::string& path)
    {
        const platform::OpenResult result = platform::openDeviceExclusive(path);
        if (platform::isPort(result.handle))
            opened_.push_back(result.handle);
        return result;
    }
    platform::OpenResult open() { return open(pty.slavePath()); }

    void closePort(PortHandle port)
    {
        platform::closePort(port);
        std::erase(opened_, port);
    }

    PtyPair pty;

private:
    std::vector<PortHandle> opened_;
};

TEST_F(LockFiles, NameIsTheDevicePathBelowDevWithSlashesAsUnderscores)
{
    const std::string number = pty.slavePath().substr(std::string("/dev/pts/").size());
    EXPECT_EQ(platform::lockFileName(pty.slavePath()), "LCK..pts_" + number);
    EXPECT_EQ(platform::lockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
}

TEST_F(LockFiles, LinkToTheDeviceIsNamedByTheNodeItPointsTo)
{
    const std::string link = "/tmp/comtest-lock-link-" + std::to_string(getpid());
    unlink(link.c_str());
    ASSERT_EQ(symlink(pty.slavePath().c_str(), link.c_str()), 0);
    EXPECT_EQ(platform::lockFileName(link), platform::lockFileName(pty.slavePath()));

    WaitingChild minicomLike([] { return 0; });
    writeFile(lockPath(), minicomStyle(minicomLike.pid()));
    EXPECT_EQ(open(link).failure, OpenFailure::Busy) << "the port is held under its real name";
    unlink(link.c_str());
}

TEST_F(LockFiles, OpenHoldsOurLockFileAndCloseRemovesIt)
{
    const auto opened = open();
    ASSERT_EQ(opened.failure, OpenFailure::None);
    EXPECT_EQ(platform::PortRegistry::instance().lockFileOf(opened.handle), lockPath());

    const auto lines = linesOf(contentOf(lockPath()));
    ASSERT_GE(lines.size(), 3u) << contentOf(lockPath());
    EXPECT_EQ(lines[0], minicomStyle(getpid()).substr(0, 10)) << "PID right-aligned in 10 columns";
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(lines[1], std::string(exe).substr(std::string(exe).find_last_of('/') + 1)) << "program name";
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(lines[2], host) << "host name";
    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), getpid());

    closePort(opened.handle);
    EXPECT_FALSE(exists(lockPath())) << "lock file gone with the port";
    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), std::nullopt);
}

TEST_F(LockFiles, PortHeldByFlockOnTheDeviceIsRefusedAndLeavesNoLockFile)
{
    const std::string device = pty.slavePath();
    WaitingChild picocomLike([&] {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    });
    ASSERT_EQ(picocomLike.value(), 1);
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    EXPECT_FALSE(exists(lockPath())) << "a refused open makes no lock file";
    picocomLike.release();
    EXPECT_EQ(open().failure, OpenFailure::None) << "free once the flock is gone";
}

TEST_F(LockFiles, MinicomStyleFileOfALiveProcessRefusesThePortAndIsLeftAlone)
{
    WaitingChild minicomLike([] { return 0; });
    ASSERT_TRUE(minicomLike.reported());
    writeFile(lockPath(), minicomStyle(minicomLike.pid()));
    struct stat before { };
    ASSERT_EQ(stat(lockPath().c_str(), &before), 0);

    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), minicomLike.pid());
    const auto refused = open();
    EXPECT_EQ(refused.failure, OpenFailure::Busy);
    EXPECT_EQ(refused.handle, platform::kInvalidPort);
    EXPECT_EQ(contentOf(lockPath()), minicomStyle(minicomLike.pid())) << "a live lock file is never changed";
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0) << "the refused open left the device unlocked";
    close(probe);
}

TEST_F(LockFiles, MinicomStyleFileOfADeadProcessIsRemovedAndTheOpenGoesOn)
{
    const pid_t dead = deadPid();
    writeFile(lockPath(), minicomStyle(dead));
    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), std::nullopt);
    const auto opened = open();
    EXPECT_EQ(opened.failure, OpenFailure::None);
    EXPECT_EQ(pidIn(lockPath()), getpid()) << "the stale file made way for ours";
}

TEST_F(LockFiles, FileNamingUsThatWeDoNotHoldIsStale)
{
    writeFile(lockPath(), minicomStyle(getpid()));
    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), std::nullopt);
    EXPECT_EQ(open().failure, OpenFailure::None) << "a leftover of ours does not lock us out";
}

TEST_F(LockFiles, FileWhosePidCannotBeReadRefusesThePortAndIsLeftAlone)
{
    writeFile(lockPath(), "not a pid\n");
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    EXPECT_EQ(contentOf(lockPath()), "not a pid\n");
}

TEST_F(LockFiles, FileUnderFlockIsLiveWhateverPidItNames)
{
    // As a holder in another PID namespace looks from here: its PID means nothing to us.
    const pid_t dead = deadPid();
    const std::string path = lockPath();
    WaitingChild holder([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        const std::string content = minicomStyle(dead);
        const bool written = fd >= 0 && write(fd, content.data(), content.size()) == ssize_t(content.size());
        return written && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    });
    ASSERT_EQ(holder.value(), 1);
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    EXPECT_EQ(pidIn(path), dead) << "left alone";
    holder.release();
    EXPECT_EQ(open().failure, OpenFailure::None) << "stale once nobody holds it";
}

TEST_F(LockFiles, QtLockFileHeldByAnotherProcessRefusesThePort)
{
    const std::string path = lockPath();
    WaitingChild holder([&] {
        // Kept for the child's lifetime, as a Qt terminal keeps it while the port is open.
        auto* lock = new QLockFile(QString::fromStdString(path));
        return lock->tryLock(0) ? 1 : 0;
    });
    ASSERT_EQ(holder.value(), 1) << "the other process took the Qt lock";
    EXPECT_EQ(platform::liveLockHolder(pty.slavePath()), holder.pid());
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    EXPECT_TRUE(exists(path));
}

TEST_F(LockFiles, QtLockFileLeftByAKilledProcessIsStale)
{
    const std::string path = lockPath();
    WaitingChild qtTerminal([&] {
        // Kept for the child's lifetime, as a Qt terminal keeps it while the port is open.
        auto* lock = new QLockFile(QString::fromStdString(path));
        return lock->tryLock(0) ? 1 : 0;
    });
    ASSERT_EQ(qtTerminal.value(), 1);
    const pid_t was = qtTerminal.pid();
    qtTerminal.kill();
    ASSERT_TRUE(exists(path)) << "a killed Qt program leaves its lock file";
    EXPECT_EQ(pidIn(path), was);

    EXPECT_EQ(open().failure, OpenFailure::None);
    EXPECT_EQ(pidIn(path), getpid());
}

TEST_F(LockFiles, QtRefusesAPortWeHoldEvenWhenOurLockFileIsOld)
{
    ASSERT_EQ(open().failure, OpenFailure::None);
    int holder = 0;
    EXPECT_EQ(qtTryLockFromAnotherProcess(lockPath(), &holder), 0) << "QLockFile::tryLock refused";
    EXPECT_EQ(holder, getpid()) << "Qt reads our PID";

    const timeval tenMinutesAgo[2] = { { time(nullptr) - 600, 0 }, { time(nullptr) - 600, 0 } };
    ASSERT_EQ(utimes(lockPath().c_str(), tenMinutesAgo), 0);
    EXPECT_EQ(qtTryLockFromAnotherProcess(lockPath(), &holder), 0) << "an old lock file of ours is not stale";
    EXPECT_EQ(holder, getpid());
    EXPECT_EQ(pidIn(lockPath()), getpid()) << "our lock file is still there";
}

TEST_F(LockFiles, ExitWithThePortStillOpenRemovesOurLockFile)
{
    PtyPair otherPort;
    const auto ours = open(otherPort.slavePath());
    ASSERT_EQ(ours.failure, OpenFailure::None);
    const std::string ourLock
        = std::string(kLockFolder) + "/" + platform::lockFileName(otherPort.slavePath());

    const std::string device = pty.slavePath();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const auto opened = platform::openDeviceExclusive(device);
        std::exit(opened.failure == OpenFailure::None ? 0 : 3);
    }
    int status = 0;
    ASSERT_TRUE(reapWithin(child, &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child opened the port";
    EXPECT_TRUE(!exists(lockPath()) || !isAlive(pidIn(lockPath()))) << "no lock file names a live holder";
    EXPECT_FALSE(exists(lockPath()));
    EXPECT_EQ(pidIn(ourLock), getpid()) << "the child's exit left our own lock file alone";
    platform::closePort(ours.handle);
}

TEST_F(LockFiles, PicocomRefusesAPortWeHold)
{
    const auto picocom = programOnPath("picocom");
    if (!picocom)
        GTEST_SKIP() << "picocom is not installed";
    ASSERT_EQ(open().failure, OpenFailure::None);
    TerminalProgram other({ *picocom, "-q", "-b", "9600", pty.slavePath() });
    const auto status = other.waitForExit();
    ASSERT_TRUE(status) << "picocom gave up by itself; it said: " << other.output();
    EXPECT_NE(*status, 0);
    EXPECT_NE(other.output().find("cannot lock"), std::string::npos) << other.output();
}

TEST_F(LockFiles, MinicomRefusesAPortWeHold)
{
    const auto minicom = programOnPath("minicom");
    if (!minicom)
        GTEST_SKIP() << "minicom is not installed";
    ASSERT_EQ(open().failure, OpenFailure::None);
    TerminalProgram other({ *minicom, "-D", pty.slavePath() });
    EXPECT_TRUE(other.waitForOutput("is locked")) << "minicom said: " << other.output();
    other.stop();
    EXPECT_EQ(pidIn(lockPath()), getpid()) << "minicom left our lock file alone";
}

TEST_F(LockFiles, PortThatPicocomHoldsIsRefused)
{
    const auto picocom = programOnPath("picocom");
    if (!picocom)
        GTEST_SKIP() << "picocom is not installed";
    TerminalProgram other({ *picocom, "-q", "-b", "9600", pty.slavePath() });
    ASSERT_TRUE(PtyPair::waitUntil([&] { return holdsFlock(other.pid()); }, 5s))
        << "picocom took the port; it said: " << other.output();
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    other.stop();
    EXPECT_EQ(open().failure, OpenFailure::None) << "free once picocom is gone";
}

TEST_F(LockFiles, PortThatMinicomHoldsIsRefusedAndItsLeftoverIsStale)
{
    const auto minicom = programOnPath("minicom");
    if (!minicom)
        GTEST_SKIP() << "minicom is not installed";
    TerminalProgram other({ *minicom, "-D", pty.slavePath() });
    ASSERT_TRUE(
        PtyPair::waitUntil([&] { return platform::liveLockHolder(pty.slavePath()) == other.pid(); }, 5s))
        << "minicom took the port; it said: " << other.output();
    EXPECT_EQ(open().failure, OpenFailure::Busy);
    EXPECT_EQ(pidIn(lockPath()), other.pid()) << "minicom's lock file left alone";
    other.stop();
    EXPECT_EQ(open().failure, OpenFailure::None) << "a killed minicom's lock file is stale";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
