#include "PortHolders.h"

#include "LockFiles.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sstream>
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

// stat() through /proc/PID/fd/N follows the link to the open file without opening it.
bool hasDeviceOpen(int pid, dev_t device)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (!fds)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(fds)) {
        if (!pidOf(entry->d_name))
            continue;
        struct stat target { };
        const std::string link = folder + "/" + entry->d_name;
        if (stat(link.c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
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
    if (!(words >> id >> type) || type == "->")
        return std::nullopt;
    if (!(words >> kind >> access >> pid >> where))
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
    for (const int pid : allProcesses())
        if (pid != getpid() && hasDeviceOpen(pid, node.st_rdev))
            holders.openBy.push_back(pid);
    return holders;
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
