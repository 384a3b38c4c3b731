// Who has a serial device, found without opening it: an open raises DTR and RTS, which resets many
// boards.
//
// Principles of operation
//   A device is held when a live lock file names a process, or when a process has an flock (or a
//   record lock) on the device node; /proc/locks tells the latter, matched by the file system and
//   inode of the node. A process that merely has the device open (a descriptor under /proc/PID/fd
//   that stands for the same device number) does not hold it: it is "also open by". TIOCEXCL
//   leaves no trace outside the tty, so only an open attempt finds it.
//   A process whose descriptors this user may not read is seen only where /proc still shows that
//   much: its command line naming the device makes it an opener that "cannot be seen from here".
//   A tty may also be the system console (/sys/class/tty/console/active) or a session's controlling
//   terminal (the tty field of /proc/PID/stat, readable for every process). Neither is a port to
//   take: an open would set our locks on it and a termios call from a background process group
//   would stop us on SIGTTOU.
//   This process is left out of every answer: what it holds it knows already, and the built-in
//   loop-back keeps a descriptor of its own port open.
//   Processes of other users may be invisible without privileges; nothing here fails for that.
//
// Interface summary
//   findHolders          the lock file holder, the lock holder and the other openers of a device
//                        (or of several, from one look at every process)
//   findOpeners          only the other processes that have the device open
//   terminalUse          whether a device is the system console or a session's controlling terminal
//   processName          the command name of a process ("" when unknown)
//   groupAllowedToOpen   the group that may read and write a device node, if its mode lets one
#pragma once

#include "platform/discovery/DeviceInventory.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Openers {
    std::vector<int> pids; // PIDs with the device open, ascending
    bool unseen = false; // a process whose descriptors cannot be read names the device
    bool any() const { return unseen || !pids.empty(); }
};

// What a tty is to the system besides a port.
struct TerminalUse {
    bool systemConsole = false;
    std::optional<int> controllingSession; // the leader of the session whose terminal it is
    bool any() const { return systemConsole || controllingSession.has_value(); }
};

struct PortHolders {
    std::optional<int> lockFileHolder; // PID named by a live lock file
    bool locked = false; // a lock of another process on the node
    std::optional<int> lockHolder; // the PID of that lock, when the kernel tells it
    std::vector<int> openBy; // PIDs with the device open, ascending
    bool openByUnseen = false; // and a process whose descriptors cannot be read names it
    TerminalUse terminal;

    bool held() const { return lockFileHolder.has_value() || locked; }
    // The process that holds the device: the lock file's first, then the lock's.
    std::optional<int> holder() const { return lockFileHolder ? lockFileHolder : lockHolder; }
};

// Looks the device up in the lock files, /proc/locks and /proc/*/fd. A device that cannot be
// stat'ed has no holders.
PortHolders findHolders(const std::string& devicePath);
// The same for several devices, in their order, from one pass over the processes.
std::vector<PortHolders> findHolders(const std::vector<std::string>& devicePaths);

// The other processes that have the device open, from /proc/*/fd (and /proc/*/cmdline for those
// whose descriptors cannot be read). Nothing for a device that cannot be stat'ed.
Openers findOpeners(const std::string& devicePath);

// Looks the device up in the console list under roots.sys and in every process's stat. /dev/console
// is the console and /dev/tty the caller's own controlling terminal.
TerminalUse terminalUse(const std::string& devicePath, const InventoryRoots& roots = {});

// The process's command name from /proc ("" when it is gone or unreadable).
std::string processName(int pid);

// The group whose members may read and write the node; nothing when the node's group has no read
// and write permission or the node cannot be stat'ed.
std::optional<std::string> groupAllowedToOpen(const std::string& devicePath);

} // namespace platform
