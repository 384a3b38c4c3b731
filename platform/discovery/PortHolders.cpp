#include "platform/discovery/PortHolders.h"

#include "platform/discovery/LockFiles.h"
#include "platform/files/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

std::optional<int> pidOf(const char* name)
{
    if (name[0] == '\0')
        return std::nullopt;
    long value = 0;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9' || value > 1000000000L)
            return std::nullopt;
        value = value * 10 + (*c - '0');
    }
    return static_cast<int>(value);
}

std::vector<int> allProcesses()
{
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* entry = readdir(proc))
        if (const auto pid = pidOf(entry->d_name))
            pids.push_back(*pid);
    closedir(proc);
    std::sort(pids.begin(), pids.end());
    return pids;
}

// /dev/tty (the caller's own terminal) and /dev/console.
const dev_t kOwnTerminalDevice = makedev(5, 0);
const dev_t kConsoleDevice = makedev(5, 1);

enum class FdTable { HasDevice, LacksDevice, Unreadable };

// stat() through /proc/PID/fd/N follows the link to the open file without opening it; only links
// into /dev are followed, since a stat of a file on a dead network mount may block for ever.
FdTable scanFdTable(int pid, dev_t device)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (!fds)
        return errno == EACCES ? FdTable::Unreadable : FdTable::LacksDevice;
    FdTable found = FdTable::LacksDevice;
    while (const dirent* entry = readdir(fds)) {
        if (!pidOf(entry->d_name))
            continue;
        struct stat target { };
        const std::string link = folder + "/" + entry->d_name;
        char path[16] = {};
        if (readlink(link.c_str(), path, sizeof path - 1) < 5 || std::string_view(path, 5) != "/dev/")
            continue;
        if (stat(link.c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device) {
            found = FdTable::HasDevice;
            break;
        }
    }
    closedir(fds);
    return found;
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
    unsigned deviceMajor = 0, deviceMinor = 0;
    char colon = 0;
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

// The session whose controlling terminal the device is: field 7 (tty_nr) of /proc/PID/stat, after
// the command name in parentheses; field 6 is the session.
std::optional<int> controllingSessionOf(dev_t device)
{
    if (device == kOwnTerminalDevice)
        return static_cast<int>(getsid(0));
    for (const int pid : allProcesses()) {
        std::ifstream file("/proc/" + std::to_string(pid) + "/stat"); // whole: a name may hold a newline
        const std::string stat = (std::ostringstream() << file.rdbuf()).str(); // an ended process: no throw
        const auto nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(nameEnd + 1));
        std::string state;
        long parent = 0, group = 0, session = 0, tty = 0;
        if (!(fields >> state >> parent >> group >> session >> tty) || tty == 0)
            continue;
        const auto ttyNumber = static_cast<unsigned long>(tty);
        const unsigned ttyMajor = (ttyNumber >> 8) & 0xfff;
        const unsigned ttyMinor = (ttyNumber & 0xff) | ((ttyNumber >> 12) & 0xfff00);
        if (makedev(ttyMajor, ttyMinor) == device)
            return static_cast<int>(session > 0 ? session : pid);
    }
    return std::nullopt;
}

struct LockEntry {
    int pid = 0;
    unsigned fsMajor = 0;
    unsigned fsMinor = 0;
    unsigned long inode = 0;
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

} // namespace

PortHolders findHolders(const std::string& devicePath)
{
    PortHolders holders;
    struct stat node { };
    if (stat(devicePath.c_str(), &node) != 0)
        return holders;
    if (const auto pid = liveLockHolder(devicePath); pid && *pid != getpid())
        holders.lockFileHolder = pid;
    findLock(node, holders);
    if (!S_ISCHR(node.st_mode))
        return holders;
    holders.openBy = findOpeners(devicePath).pids;
    holders.terminal = terminalUse(devicePath);
    return holders;
}

Openers findOpeners(const std::string& devicePath)
{
    Openers openers;
    const auto device = characterDevice(devicePath);
    if (!device)
        return openers;
    const std::string resolved = resolvedPath(devicePath);
    for (const int pid : allProcesses()) {
        if (pid == getpid())
            continue;
        switch (scanFdTable(pid, *device)) {
        case FdTable::HasDevice:
            openers.pids.push_back(pid);
            break;
        case FdTable::Unreadable:
            openers.unseen = openers.unseen || commandLineNames(pid, devicePath, resolved);
            break;
        case FdTable::LacksDevice:
            break;
        }
    }
    return openers;
}

TerminalUse terminalUse(const std::string& devicePath, const InventoryRoots& roots)
{
    TerminalUse use;
    const auto device = characterDevice(devicePath);
    if (!device)
        return use;
    use.systemConsole = isSystemConsole(*device, roots);
    use.controllingSession = controllingSessionOf(*device);
    return use;
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
