#include "platform/discovery/LockFiles.h"

#include "platform/files/Descriptors.h"
#include "platform/registry/PortRegistry.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// /var/lock is a link to /run/lock on most systems; a folder that is the same one counts once.
constexpr std::array kLockFolders { "/run/lock", "/var/lock" };
constexpr char kDeviceFolder[] = "/dev/";
constexpr size_t kLongestLockFile = 256;

std::vector<std::string> lockFolders()
{
    std::vector<std::string> folders;
    std::vector<std::string> seen;
    for (const char* folder : kLockFolders) {
        struct stat status { };
        if (stat(folder, &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        const std::string real = resolvedPath(folder);
        if (std::find(seen.begin(), seen.end(), real) != seen.end())
            continue;
        seen.push_back(real);
        folders.push_back(folder);
    }
    return folders;
}

// Line 1 as minicom and lockdev read it: blanks, a decimal number, then the end of the line.
std::optional<pid_t> pidOnFirstLine(const std::string& content)
{
    size_t at = content.find_first_not_of(" \t");
    if (at == std::string::npos)
        return std::nullopt;
    long long value = 0;
    const size_t firstDigit = at;
    for (; at < content.size() && content[at] >= '0' && content[at] <= '9'; ++at) {
        value = value * 10 + (content[at] - '0');
        if (value > INT_MAX)
            return std::nullopt;
    }
    if (at == firstDigit || value <= 0)
        return std::nullopt;
    if (at < content.size() && content[at] != '\n' && content[at] != ' ' && content[at] != '\r')
        return std::nullopt;
    return static_cast<pid_t>(value);
}

std::string readSome(int fd)
{
    std::string content(kLongestLockFile, '\0');
    ssize_t got;
    do
        got = pread(fd, content.data(), content.size(), 0);
    while (got < 0 && errno == EINTR);
    content.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return content;
}

// Our record of the lock file at path, when this process made it (a forked child's copy is not its own).
std::optional<PortRegistry::OwnLockFile> madeHere(const std::string& path)
{
    const auto own = PortRegistry::instance().lockFile(path);
    return own && own->maker == getpid() ? own : std::nullopt;
}

// Only we write our PID; a file naming it that we do not hold was left by a port we lost track of.
bool isLiveHolder(pid_t pid, const std::string& path)
{
    if (pid == getpid())
        return madeHere(path).has_value();
    return kill(pid, 0) == 0 || errno == EPERM;
}

struct Verdict {
    bool live = false;
    std::optional<pid_t> pid;
};

// Judges one lock file; a stale one is removed when removeStale is set and the folder lets us.
Verdict judge(const std::string& path, bool removeStale)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Verdict { errno != ENOENT && errno != ENOTDIR, std::nullopt };
    Verdict verdict { true, std::nullopt };
    struct stat status { };
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        // Qt holds flock on its lock file; a held one is live whatever its PID says from here.
        const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        verdict.pid = pidOnFirstLine(readSome(fd));
        verdict.live = held || !verdict.pid || isLiveHolder(*verdict.pid, path);
        // Checked against the open file, so that a file someone made meanwhile is not the one removed.
        if (!verdict.live && removeStale && sameFile(fd, path.c_str()))
            unlink(path.c_str());
    }
    close(fd);
    return verdict;
}

std::string ourExecutableName()
{
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", target.data(), target.size());
    if (length <= 0)
        return {};
    target.resize(static_cast<size_t>(length));
    // A rebuilt binary reads as "name (deleted)"; Qt compares against the name without it.
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted))
        target.resize(target.size() - deleted.size());
    return target.substr(target.find_last_of('/') + 1);
}

std::string ourLockContent()
{
    char pid[16];
    std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(getpid()));
    std::array<char, HOST_NAME_MAX + 1> host {};
    if (gethostname(host.data(), host.size() - 1) != 0)
        host[0] = '\0';
    return pid + ourExecutableName() + "\n" + host.data() + "\n";
}

enum class Made { Yes, FolderRefused, LiveOneThere, StaleOneStays };

// A stale file in the way is removed and the make tried once more.
Made makeLockFile(const std::string& path, bool mayRetry = true)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno != EEXIST)
            return Made::FolderRefused;
        if (judge(path, true).live)
            return Made::LiveOneThere;
        return mayRetry ? makeLockFile(path, false) : Made::StaleOneStays;
    }
    // A closed standard stream must stay closed, not turn into our lock file.
    fd = aboveStandardStreams(fd);
    const std::string content = ourLockContent();
    // Readable by every user's terminal program, whatever our umask.
    if (fd < 0 || fchmod(fd, 0644) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0
        || !writeAllAt(fd, content.data(), content.size(), 0)) {
        unlink(path.c_str());
        if (fd >= 0)
            close(fd);
        return Made::FolderRefused;
    }
    PortRegistry::instance().noteLockFile(path, { fd, getpid() });
    return Made::Yes;
}

} // namespace

std::string lockFileName(const std::string& devicePath)
{
    std::string name = resolvedPath(devicePath);
    if (name.starts_with(kDeviceFolder))
        name.erase(0, sizeof kDeviceFolder - 1);
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

std::optional<int> liveLockHolder(const std::string& devicePath)
{
    const std::string name = lockFileName(devicePath);
    for (const auto& folder : lockFolders()) {
        const Verdict verdict = judge(folder + "/" + name, false);
        if (verdict.live && verdict.pid)
            return static_cast<int>(*verdict.pid);
    }
    return std::nullopt;
}

bool clearStaleLockFiles(const std::string& devicePath)
{
    const std::string name = lockFileName(devicePath);
    bool free = true;
    for (const auto& folder : lockFolders())
        free = !judge(folder + "/" + name, true).live && free;
    return free;
}

std::optional<std::string> createOwnLockFile(const std::string& devicePath)
{
    const std::string name = lockFileName(devicePath);
    for (const auto& folder : lockFolders()) {
        const std::string path = folder + "/" + name;
        const Made made = makeLockFile(path);
        if (made == Made::Yes)
            return path;
        if (made == Made::LiveOneThere)
            return std::nullopt;
    }
    return std::string();
}

void removeOwnLockFile(const std::string& path)
{
    if (path.empty())
        return;
    const auto own = madeHere(path);
    if (!own)
        return;
    if (sameFile(own->fd, path.c_str()))
        unlink(path.c_str());
    // Closing lets go of the flock; the file is gone by then, so nobody takes the unlocked one.
    close(own->fd);
    PortRegistry::instance().forgetLockFile(path);
}

} // namespace platform
