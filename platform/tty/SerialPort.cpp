#include "platform/tty/SerialPort.h"

#include "platform/discovery/ComNames.h"
#include "platform/discovery/DeviceInventory.h"
#include "platform/discovery/LockFiles.h"
#include "platform/discovery/PortHolders.h"
#include "platform/files/Descriptors.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/DriverLimits.h"
#include "platform/tty/ExitPath.h"
#include "platform/tty/LineBits.h"
#include "platform/tty/ModemLines.h"
#include "platform/tty/Termios2.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long a hung-up node may take to be removed when its device went away, and how often to look.
constexpr auto kNodeRemovalTime = std::chrono::milliseconds(1000);
constexpr int kNodeRemovalPollMs = 10;

// When the speed cannot be read (the device is likely gone), a slow line bounds the write.
constexpr uint64_t kFallbackBaud = 9600;
constexpr int kFallbackBitsPerCharacter = 11;

OpenFailure failureOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return OpenFailure::NoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailure::PermissionDenied;
    case EBUSY:
        return OpenFailure::Busy;
    case EISDIR:
        return OpenFailure::NotATty;
    default:
        return OpenFailure::Other;
    }
}

OpenFailure takeExclusively(int fd)
{
    if (!isatty(fd)) // a node of the 8250 driver without a UART opens, then answers EIO
        return errno == EIO ? OpenFailure::NoUart : OpenFailure::NotATty;
    // TIOCEXCL does not stop a root opener; flock does, and picocom, tio and GtkTerm honour it too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? OpenFailure::Busy : OpenFailure::Other;
    // Root passes another program's TIOCEXCL; it still holds the port, and is not ours to clear.
    int exclusive {};
    if (ioctl(fd, TIOCGEXCL, &exclusive) != 0)
        return OpenFailure::Other;
    if (exclusive)
        return OpenFailure::Busy;
    if (ioctl(fd, TIOCEXCL) != 0)
        return OpenFailure::Other;
    // The flag outlives our descriptor while anyone else has the device open: from here on every
    // way out of the process gives it up.
    if (!recordHeldPort(fd)) {
        ioctl(fd, TIOCNXCL);
        return OpenFailure::Other;
    }
    return OpenFailure::None;
}

// Gives up what sits on a port that we took, and its descriptor.
void releaseDevice(int fd)
{
    releaseHeldPort(fd);
    close(fd);
}

bool isPseudoTerminal(int fd)
{
    struct stat status { };
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && isPseudoTerminalMajor(major(status.st_rdev));
}

// The time count bytes need on the wire at the port's real speed, plus a second of slack.
Clock::duration writeAllowance(PortHandle port, size_t count)
{
    uint64_t baud = kFallbackBaud;
    int bits = kFallbackBitsPerCharacter;
    LineBits now;
    if (readLineBits(port, now) && outputSpeed(now) != 0) {
        baud = outputSpeed(now);
        bits = bitsPerCharacter(now);
    }
    const uint64_t lineMicroseconds = uint64_t { count } * uint64_t(bits) * 1000000 / baud;
    return std::chrono::microseconds(lineMicroseconds) + std::chrono::seconds(1);
}

// Waits for the events on the port; what poll reported, or 0 once the deadline has passed.
short waitForEvents(PortHandle port, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd entry { port, events, {} };
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 ? entry.revents : 0;
    }
}

// Waits until the port takes more output; false once the deadline passed or the device is gone.
bool waitWritable(PortHandle port, Clock::time_point deadline)
{
    const short got = waitForEvents(port, POLLOUT, deadline);
    return (got & POLLOUT) && !(got & (POLLERR | POLLHUP | POLLNVAL));
}

// Whether the port's node still stands for the device we hold.
bool nodeStillThere(PortHandle port)
{
    struct stat held { };
    struct stat node { };
    const auto device = PortRegistry::instance().deviceOf(port);
    return device && fstat(port, &held) == 0 && stat(device->c_str(), &node) == 0
        && node.st_rdev == held.st_rdev;
}

} // namespace

OpenResult openPortExclusive(const std::string& portName)
{
    const auto device = deviceForPortName(portName);
    if (!device)
        return OpenResult { kInvalidPort, OpenFailure::NoSuchPort, {} };
    return openDeviceExclusive(*device);
}

OpenResult openDeviceExclusive(const std::string& devicePath)
{
    OpenResult result { kInvalidPort, OpenFailure::None, devicePath };
    const auto fail = [&result](OpenFailure failure) {
        result.failure = failure;
        return result;
    };
    // Known from /sys and /proc, so that such a terminal is never opened at all.
    if (const TerminalUse use = terminalUse(devicePath); use.any()) {
        result.session = use.controllingSession.value_or(0);
        return fail(use.systemConsole ? OpenFailure::SystemConsole : OpenFailure::ControllingTerminal);
    }
    // minicom and Qt terminals guard a port by lock file alone, and TIOCEXCL stops no root opener.
    if (!clearStaleLockFiles(devicePath))
        return fail(OpenFailure::Busy);
    int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(failureOf(errno));
    fd = aboveStandardStreams(fd);
    if (fd < 0)
        return fail(OpenFailure::Other);
    // The descriptor stays non-blocking: reads take what is waiting, writes wait in poll.
    if (const OpenFailure refused = takeExclusively(fd); refused != OpenFailure::None) {
        close(fd);
        return fail(refused);
    }
    // Made only once the device is ours, so that a refused open never leaves a lock file behind.
    const auto lockFile = createOwnLockFile(devicePath);
    if (!lockFile) {
        releaseDevice(fd);
        return fail(OpenFailure::Busy);
    }
    if (const auto made = PortRegistry::instance().lockFile(*lockFile))
        recordLockFile(fd, *lockFile, made->fd);
    result.handle = fd;
    PortRegistry::instance().noteHeld(fd, devicePath, *lockFile);
    // A run killed in the UART's loop mode leaves it on, and every exchange would then answer
    // itself. With nobody else on the port it can only be such a leftover.
    if (inLoopMode(fd) && !findOpeners(descriptorPath(fd)).any())
        clearLoopMode(fd);
    return result;
}

bool applyLineSettings(PortHandle port, const LineSettings& settings, std::string* hardwareReason)
{
    LineBits current;
    if (!isPort(port) || !readLineBits(port, current))
        return false;
    const auto wanted = buildLine(current, settings);
    if (!wanted || !writeLineBits(port, *wanted))
        return false;
    LineBits got;
    if (!readLineBits(port, got) || !readBackAccepted(*wanted, got, isPseudoTerminal(port)))
        return false;
    if (const auto reason = hardwareRefusal(port, settings)) {
        if (hardwareReason)
            *hardwareReason = *reason;
        return false;
    }
    return true;
}

LineState lineState(PortHandle port)
{
    pollfd entry { port, POLLIN, {} };
    int count {};
    const bool hungUp = isPort(port)
        && ((poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)))
            || (ioctl(port, FIONREAD, &count) != 0 && errno == EIO));
    if (!hungUp)
        return LineState::Up;
    // An unplugged USB adapter is hung up a moment before its node goes: give the node that moment.
    const auto deadline = Clock::now() + kNodeRemovalTime;
    while (nodeStillThere(port)) {
        if (Clock::now() >= deadline)
            return LineState::CarrierLost;
        poll(nullptr, 0, kNodeRemovalPollMs);
    }
    return LineState::Vanished;
}

bool readLineSettings(PortHandle port, LineSettings& out, bool* isPseudoTerminalOut)
{
    LineBits now;
    if (!isPort(port) || !readLineBits(port, now))
        return false;
    out = describeLine(now);
    if (isPseudoTerminalOut)
        *isPseudoTerminalOut = isPseudoTerminal(port);
    return true;
}

int bytesWaiting(PortHandle port)
{
    int count {};
    if (!isPort(port) || ioctl(port, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return count;
}

int readBytes(PortHandle port, uint8_t* into, int count)
{
    if (!isPort(port) || into == nullptr || count <= 0)
        return 0;
    int total = 0;
    while (total < count) {
        const ssize_t got = read(port, into + total, static_cast<size_t>(count - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) // nothing more waiting (EAGAIN), a gone device (0 or EIO)
            break;
        total += static_cast<int>(got);
    }
    return total;
}

bool waitForInput(PortHandle port, Clock::time_point deadline)
{
    return isPort(port) && (waitForEvents(port, POLLIN, deadline) & POLLIN);
}

void discardInput(PortHandle port)
{
    if (isPort(port))
        tcflush(port, TCIFLUSH);
}

size_t writeAll(PortHandle port, const uint8_t* bytes, size_t count)
{
    if (!isPort(port) || bytes == nullptr || count == 0)
        return 0;
    const auto deadline = Clock::now() + writeAllowance(port, count);
    size_t written = 0;
    while (written < count) {
        const ssize_t took = write(port, bytes + written, count - written);
        if (took > 0) {
            written += static_cast<size_t>(took);
            continue;
        }
        if (took < 0 && errno == EINTR)
            continue;
        if ((took < 0 && errno != EAGAIN) || !waitWritable(port, deadline))
            break;
    }
    return written;
}

size_t writeSome(PortHandle port, const uint8_t* bytes, size_t count)
{
    if (!isPort(port) || bytes == nullptr || count == 0)
        return 0;
    for (;;) {
        const ssize_t took = write(port, bytes, count);
        if (took < 0 && errno == EINTR)
            continue;
        return took > 0 ? static_cast<size_t>(took) : 0;
    }
}

void waitForPorts(PortWait* ports, size_t count, Clock::time_point deadline)
{
    pollfd entries[4];
    count = std::min(count, std::size(entries));
    for (size_t i = 0; i < count; ++i)
        entries[i] = { ports[i].port, static_cast<short>(POLLIN | (ports[i].wantWrite ? POLLOUT : 0)), 0 };
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int ready = poll(entries, count, static_cast<int>(std::max<int64_t>(0, left.count())));
    for (size_t i = 0; i < count; ++i) {
        const short got = ready > 0 ? entries[i].revents : 0;
        ports[i].readable = got & POLLIN;
        ports[i].writable = got & POLLOUT;
        ports[i].hungUp = got & (POLLHUP | POLLERR | POLLNVAL);
    }
}

bool standardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void closePort(PortHandle port, UnreadInput unread)
{
    if (!isPort(port))
        return;
    // A real port's last close discards its input in the kernel, and one that others still have
    // open keeps it for them. A pty's does not while its far end stays: a reopen must start empty,
    // unless others share the pty (a look at every process, so only for a pty with input waiting).
    if (unread == UnreadInput::DiscardIfOnlyOurs && isPseudoTerminal(port) && bytesWaiting(port) > 0
        && !findOpeners(descriptorPath(port)).any())
        tcflush(port, TCIFLUSH);
    // The same release as every other way out: loop mode, locks and lock file.
    releaseHeldPort(port);
    if (const auto lockFile = PortRegistry::instance().lockFileOf(port))
        removeOwnLockFile(*lockFile);
    PortRegistry::instance().noteReleased(port);
    close(port);
}

} // namespace platform
