// Lock files: the way minicom, lockdev and Qt's serial port guard a port, so that each of them and we
// refuse a port the other holds. A lock file is /run/lock (or /var/lock) / LCK.. plus the device path
// below /dev/ with every / as _; line 1 is the holder's PID, a decimal number (blanks before it allowed).
//
// Principles of operation
//   A device is named by the node it really is: a link (a socat link= name, /dev/serial/by-id/...)
//   is resolved first, so every name of one port finds the same lock file.
//   A lock file is live while its PID runs (or while someone holds flock on the file itself, as Qt
//   does), and also when it cannot be read as a PID: we cannot judge it, so we leave it and count
//   the port as held. A file whose PID is dead is stale: whoever looks next removes it; so is one
//   that names this process but that we do not hold (a leftover of a port we lost track of).
//   Our own lock file carries our PID (right-aligned in 10 columns, as minicom writes it), the name
//   of our executable and the host name (so that Qt takes it for live), and we hold flock on it for
//   as long as we hold the port (so that Qt never takes an aged one for stale). It is removed when
//   the port is released, on any way out (ExitPath.h); only the process that made a lock file
//   removes it (a forked child's copy of our list removes nothing).
//   A missing or read-only lock folder is no failure: the port is then guarded by its own locks.
//
// Interface summary
//   lockFileName        the lock file's name (no folder) for a device
//   liveLockHolder      PID of a live lock file naming the device
//   clearStaleLockFiles remove the device's stale lock files; false while a live one remains
//   createOwnLockFile   make our lock file for a device we hold
//   removeOwnLockFile   remove a lock file this process made
#pragma once

#include <optional>
#include <string>

namespace platform {

// "LCK..pts_3" for /dev/pts/3 or any link to it. A path that cannot be resolved is named as given.
std::string lockFileName(const std::string& devicePath);

// The PID in a live lock file naming the device, or nothing (no live file, or one whose PID cannot
// be read). Changes nothing.
std::optional<int> liveLockHolder(const std::string& devicePath);

// Removes every stale lock file of the device that the folder lets us remove. Returns false when a
// live lock file names the device; live files are never changed or removed.
bool clearStaleLockFiles(const std::string& devicePath);

// For a device this process has just taken: creates our lock file exclusively and holds it.
// Returns its path; "" when no lock folder takes a new file (the port goes on without one); nothing
// when a live lock file of someone else is there (the caller gives the port up). On failure no
// file of ours is left.
std::optional<std::string> createOwnLockFile(const std::string& devicePath);

// Removes a lock file made by this process and lets go of it. Does nothing for "" or for a file
// this process did not make.
void removeOwnLockFile(const std::string& path);

} // namespace platform
