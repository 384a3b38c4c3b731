#include "platform/tty/ExitPath.h"

#include "platform/files/Descriptors.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/ModemLines.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

using Record = PortRegistry::ExitRecord;
using Slot = PortRegistry::HeldPort;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free);

Record& record()
{
    return PortRegistry::instance().exitRecord();
}

bool ours(const Slot& slot)
{
    return slot.state.load() == Slot::kHeld && slot.maker == getpid();
}

Slot* slotOf(PortHandle port)
{
    for (Slot& slot : record().ports)
        if (ours(slot) && slot.port == port)
            return &slot;
    return nullptr;
}

// Only calls that a signal handler may make.
void release(Slot& slot)
{
    if (!ours(slot))
        return;
    int inLoopMode = slot.port;
    if (record().loopPort.load() == slot.port) {
        clearLoopMode(slot.port);
        record().loopPort.compare_exchange_strong(inLoopMode, -1);
    }
    // Ours: the open refuses a port whose flag is already set.
    ioctl(slot.port, TIOCNXCL);
    flock(slot.port, LOCK_UN);
    if (const int lockFd = slot.lockFd.load(); lockFd >= 0) {
        // Only while it is still the file we made: a lock file of someone else is not ours to remove.
        if (sameFile(lockFd, slot.lockPath))
            unlink(slot.lockPath);
        flock(lockFd, LOCK_UN);
    }
}

void giveBack(int signal)
{
    for (size_t i = 0; i < std::size(Record::kSignals); ++i)
        if (Record::kSignals[i] == signal)
            sigaction(signal, &record().previous[i], nullptr);
}

void onSignal(int signal)
{
    const int savedErrno = errno;
    if (record().deferred.load() & (1u << signal)) {
        record().caught.store(signal);
    } else {
        releaseAll();
        giveBack(signal);
        raise(signal); // delivered once this handler returns, with the signal's own action
    }
    errno = savedErrno;
}

void takeSignals()
{
    Record& r = record();
    for (size_t i = 0; i < std::size(Record::kSignals); ++i) {
        struct sigaction action { };
        action.sa_handler = Record::kSignals[i] == SIGPIPE ? SIG_IGN : onSignal;
        sigfillset(&action.sa_mask);
        sigaction(Record::kSignals[i], &action, &r.previous[i]);
        if (r.previous[i].sa_handler == SIG_IGN) // e.g. SIGHUP under nohup
            sigaction(Record::kSignals[i], &r.previous[i], nullptr);
    }
}

void giveSignalsBack()
{
    for (const int signal : Record::kSignals)
        giveBack(signal);
}

} // namespace

bool recordHeldPort(PortHandle port)
{
    Record& r = record(); // made before the handler is registered, so that it outlives it
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(releaseAll); });
    for (Slot& slot : r.ports) {
        int expected = Slot::kFree;
        if (!slot.state.compare_exchange_strong(expected, Slot::kClaimed))
            continue;
        slot.port = port;
        slot.maker = getpid();
        slot.lockFd.store(-1);
        if (r.held.fetch_add(1) == 0)
            takeSignals();
        slot.state.store(Slot::kHeld);
        return true;
    }
    return false;
}

void recordLockFile(PortHandle port, const std::string& path, int lockFd)
{
    Slot* slot = slotOf(port);
    if (slot == nullptr || path.empty() || path.size() >= sizeof slot->lockPath)
        return;
    std::memcpy(slot->lockPath, path.c_str(), path.size() + 1);
    slot->lockFd.store(lockFd);
}

void releaseHeldPort(PortHandle port)
{
    Slot* slot = slotOf(port);
    if (slot == nullptr)
        return;
    release(*slot);
    slot->state.store(Slot::kClaimed);
    slot->lockFd.store(-1);
    slot->state.store(Slot::kFree);
    if (record().held.fetch_sub(1) == 1)
        giveSignalsBack();
}

void releaseAll()
{
    for (Slot& slot : record().ports)
        release(slot);
}

void deferSignal(int signal)
{
    record().caught.store(0); // a signal noted for an earlier command is not this one's
    record().deferred.fetch_or(1u << signal);
}

int deferredSignal()
{
    return record().caught.load();
}

void endOnBrokenPipe()
{
    releaseAll();
    if (record().held.load() > 0) // ignored only while we hold a port
        giveBack(SIGPIPE);
    raise(SIGPIPE);
}

} // namespace platform
