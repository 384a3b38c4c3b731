#include "platform/discovery/PortHolders.h"

#include "platform/discovery/LockFiles.h"
#include "platform/files/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

std::optional<int> pidOf(std::string_view name)
{
    int pid {};
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

// /dev/tty (the caller's own terminal) and /dev/console.
const dev_t kOwnTerminalDevice = makedev(5, 0);
const dev_t kConsoleDevice = makedev(5, 1);

// What one pass over /proc tells of the devices asked about: who has each open, whose terminal
// each is, and the processes whose descriptors cannot be read.
struct ProcessFacts {
    std::map<dev_t, std::vector<int>> openers;
    std::map<dev_t, int> sessions;
    std::vector<int> unreadable;
};

// Reads a small /proc file whole into buffer; its length, or 0.
size_t readProcFile(int folder, const char* name, char* buffer, size_t size)
{
    const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t got = read(fd, buffer, size - 1);
    close(fd);
    buffer[got > 0 ? got : 0] = '\0';
    return got > 0 ? size_t(got) : 0;
}

// Only a session leader takes a controlling terminal, and its whole session loses it when the leader
// ends: a getsid spares the stat of every other process. A session outside our PID namespace (0),
// or a getsid refused, leaves it to the stat.
bool maySessionLead(int pid)
{
    const pid_t session = getsid(pid);
    return session == pid || session == 0 || (session < 0 && errno != ESRCH);
}

// The session whose controlling terminal the process has: field 7 (tty_nr) of its stat, after the
// command name in parentheses (which may hold anything, a ')' too); field 6 is the session.
void noteTerminal(int pid, int folder, const char* file, const std::set<dev_t>& devices, ProcessFacts& facts)
{
    char stat[1024];
    if (!maySessionLead(pid) || readProcFile(folder, file, stat, sizeof stat) == 0)
        return;
    const char* nameEnd = std::strrchr(stat, ')');
    char state {};
    long parent {}, group {}, session {}, tty {};
    if (!nameEnd
        || std::sscanf(nameEnd + 1, " %c %ld %ld %ld %ld", &state, &parent, &group, &session, &tty) != 5
        || tty == 0)
        return;
    const auto ttyNumber = static_cast<unsigned long>(tty);
    const dev_t device
        = makedev((ttyNumber >> 8) & 0xfff, (ttyNumber & 0xff) | ((ttyNumber >> 12) & 0xfff00));
    if (devices.count(device) && !facts.sessions.count(device))
        facts.sessions[device] = static_cast<int>(session > 0 ? session : pid);
}

// A descriptor's link names the open file without opening it; only links into /dev are stat'ed
// (once each per pass), since a stat of a file on a dead network mount may block for ever.
void noteOpeners(int pid, int folder, const std::set<dev_t>& devices, std::map<std::string, dev_t>& seen,
    ProcessFacts& facts)
{
    const int fdFolder = openat(folder, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* fds = fdFolder < 0 ? nullptr : fdopendir(fdFolder);
    if (!fds) {
        if (errno == EACCES)
            facts.unreadable.push_back(pid);
        if (fdFolder >= 0)
            close(fdFolder);
        return;
    }
    std::set<dev_t> found;
    while (const dirent* entry = readdir(fds)) {
        char link[64];
        const ssize_t length = readlinkat(fdFolder, entry->d_name, link, sizeof link - 1);
        if (length < 5 || std::string_view(link, 5) != "/dev/")
            continue;
        const std::string target(link, size_t(length));
        auto known = seen.find(target);
        if (known == seen.end()) {
            struct stat node { };
            const bool character = fstatat(fdFolder, entry->d_name, &node, 0) == 0 && S_ISCHR(node.st_mode);
            known = seen.emplace(target, character ? node.st_rdev : dev_t(0)).first;
        }
        if (known->second != 0 && devices.count(known->second) && found.insert(known->second).second)
            facts.openers[known->second].push_back(pid);
    }
    closedir(fds);
}

// One pass over every process in PID order; our own descriptors are not counted.
ProcessFacts scanProcesses(const std::set<dev_t>& devices, bool descriptors, bool terminals)
{
    ProcessFacts facts;
    std::map<std::string, dev_t> seen;
    DIR* proc = opendir("/proc");
    if (!proc)
        return facts;
    std::vector<int> pids;
    while (const dirent* entry = readdir(proc))
        if (const auto pid = pidOf(entry->d_name))
            pids.push_back(*pid);
    std::sort(pids.begin(), pids.end());
    for (const int pid : pids) {
        const std::string name = std::to_string(pid);
        if (!descriptors) { // the stat alone: no folder to open
            noteTerminal(pid, dirfd(proc), (name + "/stat").c_str(), devices, facts);
            continue;
        }
        const int folder = openat(dirfd(proc), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            continue; // ended meanwhile
        if (terminals)
            noteTerminal(pid, folder, "stat", devices, facts);
        if (pid != getpid())
            noteOpeners(pid, folder, devices, seen, facts);
        close(folder);
    }
    closedir(proc);
    return facts;
}

// The arguments of a process, as /proc shows them to every user: the device by path, or by its
// bare name as getty and gpsd take it.
bool commandLineNames(int pid, const std::string& devicePath, const std::string& resolved)
{
    std::string bareName = resolved.substr(resolved.rfind('/') + 1);
    if (bareName.rfind("tty", 0) != 0) // a pty's bare name is a number, as any argument may be
        bareName.clear();
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argument;
    while (std::getline(file, argument, '\0'))
        if (argument == devicePath || argument == resolved || (!bareName.empty() && argument == bareName))
            return true;
    return false;
}

std::optional<dev_t> characterDevice(const std::string& devicePath)
{
    struct stat node { };
    if (stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return std::nullopt;
    return node.st_rdev;
}

// "4:64" from a sysfs dev file.
std::optional<dev_t> sysfsDevice(const std::string& file)
{
    unsigned deviceMajor {}, deviceMinor {};
    char colon {};
    std::ifstream in(file);
    if (!(in >> deviceMajor >> colon >> deviceMinor) || colon != ':')
        return std::nullopt;
    return makedev(deviceMajor, deviceMinor);
}

bool isSystemConsole(dev_t device, const InventoryRoots& roots)
{
    if (device == kConsoleDevice)
        return true;
    const std::string ttyClass = roots.sys + "/class/tty/";
    std::ifstream active(ttyClass + "console/active");
    std::string name;
    while (active >> name) {
        if (sysfsDevice(ttyClass + name + "/dev") == device)
            return true;
        // tty0 stands for whichever virtual terminal is in front.
        std::ifstream front(ttyClass + name + "/active");
        std::string shown;
        if (front >> shown && sysfsDevice(ttyClass + shown + "/dev") == device)
            return true;
    }
    return false;
}

struct LockEntry {
    int pid {};
    unsigned fsMajor {};
    unsigned fsMinor {};
    unsigned long inode {};
};

// One line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:19:4 0 EOF". Waiters ("1: -> FLOCK
// ...") hold nothing and are skipped. The file system's numbers are hex, the inode decimal.
std::optional<LockEntry> parseLockLine(const std::string& line)
{
    std::istringstream words(line);
    std::string id, type, kind, access, pid, where;
    if (!(words >> id >> type) || type == "->" || !(words >> kind >> access >> pid >> where))
        return std::nullopt;
    LockEntry entry;
    entry.pid = std::atoi(pid.c_str());
    char* end = nullptr;
    entry.fsMajor = static_cast<unsigned>(std::strtoul(where.c_str(), &end, 16));
    if (*end != ':')
        return std::nullopt;
    entry.fsMinor = static_cast<unsigned>(std::strtoul(end + 1, &end, 16));
    if (*end != ':')
        return std::nullopt;
    entry.inode = std::strtoul(end + 1, &end, 10);
    return entry;
}

void findLock(const struct stat& node, PortHolders& holders)
{
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        const auto entry = parseLockLine(line);
        if (!entry || entry->inode != node.st_ino || entry->fsMajor != major(node.st_dev)
            || entry->fsMinor != minor(node.st_dev) || entry->pid == getpid())
            continue;
        holders.locked = true;
        if (entry->pid > 0) // open file description locks show no process
            holders.lockHolder = entry->pid;
        return;
    }
}

Openers openersFrom(const ProcessFacts& facts, dev_t device, const std::string& devicePath)
{
    Openers openers;
    if (const auto found = facts.openers.find(device); found != facts.openers.end())
        openers.pids = found->second;
    const std::string resolved = resolvedPath(devicePath);
    openers.unseen = std::any_of(facts.unreadable.begin(), facts.unreadable.end(),
        [&](int pid) { return commandLineNames(pid, devicePath, resolved); });
    return openers;
}

TerminalUse terminalFrom(const ProcessFacts& facts, dev_t device, const InventoryRoots& roots)
{
    TerminalUse use;
    use.systemConsole = isSystemConsole(device, roots);
    if (device == kOwnTerminalDevice)
        use.controllingSession = static_cast<int>(getsid(0));
    else if (const auto found = facts.sessions.find(device); found != facts.sessions.end())
        use.controllingSession = found->second;
    return use;
}

} // namespace

std::vector<PortHolders> findHolders(const std::vector<std::string>& devicePaths)
{
    std::set<dev_t> devices;
    for (const auto& path : devicePaths)
        if (const auto device = characterDevice(path))
            devices.insert(*device);
    const ProcessFacts facts = devices.empty() ? ProcessFacts {} : scanProcesses(devices, true, true);
    std::vector<PortHolders> all(devicePaths.size());
    for (size_t i = 0; i < devicePaths.size(); ++i) {
        PortHolders& holders = all[i];
        struct stat node { };
        if (stat(devicePaths[i].c_str(), &node) != 0)
            continue;
        if (const auto pid = liveLockHolder(devicePaths[i]); pid && *pid != getpid())
            holders.lockFileHolder = pid;
        findLock(node, holders);
        if (!S_ISCHR(node.st_mode))
            continue;
        const Openers openers = openersFrom(facts, node.st_rdev, devicePaths[i]);
        holders.openBy = openers.pids;
        holders.openByUnseen = openers.unseen;
        holders.terminal = terminalFrom(facts, node.st_rdev, {});
    }
    return all;
}

PortHolders findHolders(const std::string& devicePath)
{
    return findHolders(std::vector { devicePath }).front();
}

Openers findOpeners(const std::string& devicePath)
{
    const auto device = characterDevice(devicePath);
    if (!device)
        return {};
    return openersFrom(scanProcesses({ *device }, true, false), *device, devicePath);
}

TerminalUse terminalUse(const std::string& devicePath, const InventoryRoots& roots)
{
    const auto device = characterDevice(devicePath);
    if (!device)
        return {};
    const bool ownTerminal = *device == kOwnTerminalDevice; // needs no look at the others
    return terminalFrom(
        ownTerminal ? ProcessFacts {} : scanProcesses({ *device }, false, true), *device, roots);
}

std::string processName(int pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::optional<std::string> groupAllowedToOpen(const std::string& devicePath)
{
    struct stat node { };
    if (stat(devicePath.c_str(), &node) != 0 || (node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return std::nullopt;
    if (const group* entry = getgrgid(node.st_gid))
        return std::string(entry->gr_name);
    return std::to_string(node.st_gid);
}

} // namespace platform
