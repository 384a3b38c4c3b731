// The one way out for everything of ours that sits on a port.
//
// Principles of operation
//   While we hold a port, four things of ours sit on it: our flock, our TIOCEXCL, our lock file and,
//   during an internal self-test, the UART's loop mode. The kernel keeps TIOCEXCL and loop mode for
//   as long as any other process has the tty open, and a lock file stays until someone removes it,
//   so each of them would refuse or mislead the next program. Every way out that runs code releases
//   them through the one routine here: closing the port, a return from main or exit() (atexit),
//   and SIGHUP, SIGINT, SIGQUIT and SIGTERM. The release neither closes nor flushes the port, nor
//   touches its line settings, and a TIOCEXCL that another program set is never ours to clear.
//   After the release a signal takes its own action again (it is re-raised), unless a command asked
//   to end itself on that signal: then the signal is only noted, and the command ends its own way.
//   The routine reads a lock-free record and makes only system calls that a signal handler may
//   make (ioctl, flock, fstat, stat, unlink). A forked child's copy of the record releases nothing:
//   the locks are its parent's.
//   While a port is held SIGPIPE is ignored, so that output to a reader that went away fails
//   (EPIPE) instead of killing us before the release; the command then ends through this path.
//   Signals that were ignored when the first port was taken stay ignored.
//
// Interface summary
//   recordHeldPort     note a port we have just taken exclusively; the ways out now release it
//   recordLockFile     add our lock file to a recorded port
//   releaseHeldPort    release one port's hold now and forget it (the close does this)
//   releaseAll         release every port this process holds
//   deferSignal        let a command end itself on a signal: while held, the signal is only noted
//                      (none is noted at first)
//   deferredSignal     the deferred signal that came, or 0
//   endOnBrokenPipe    release everything and end as the broken pipe would have ended us
#pragma once

#include "platform/tty/SerialPort.h"

#include <string>

namespace platform {

// False when the record is full; the caller then gives the port up.
bool recordHeldPort(PortHandle port);
// lockFd holds the flock on the file at path; a path too long for the record stays to the close.
void recordLockFile(PortHandle port, const std::string& path, int lockFd);

// Ends loop mode if ours, gives up TIOCEXCL and flock, removes our lock file and lets go of its
// flock; closes nothing. Does nothing for a port not in the record.
void releaseHeldPort(PortHandle port);
void releaseAll();

void deferSignal(int signal);
int deferredSignal();

// Returns only when SIGPIPE was ignored before we took a port.
void endOnBrokenPipe();

} // namespace platform
