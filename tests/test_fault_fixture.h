// What the fault tests share: the real main window with COM1 standing for a fresh pty, a watchdog
// that finds any handler holding the GUI thread, a meter of the process's CPU time, and a log of
// the test timers' ticks.
//
// The machine the suite runs on is shared and busy, so the watchdog does not count time the GUI
// thread spent waiting for a CPU (the scheduler's own run-queue figure for the thread): what is
// left is time the thread ran or sat blocked, which is what a slow or blocking handler costs.
#pragma once

#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace fault {

inline const std::string kOpenError = "開啟通訊埠錯誤!!";

// Nanoseconds the calling thread has spent runnable but waiting for a CPU; 0 where unknown.
inline int64_t runQueueWaitNs()
{
    static const std::string path = "/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/schedstat";
    std::ifstream stat(path);
    int64_t running = 0;
    int64_t waiting = 0;
    stat >> running >> waiting;
    return stat ? waiting : 0;
}

// Wall time of the calling thread minus its run-queue waits: what the thread itself cost.
class ThreadClock {
public:
    ThreadClock() { restart(); }
    void restart()
    {
        wall_.start();
        waitAtStart_ = runQueueWaitNs();
    }
    double elapsedMs() const
    {
        const double wallMs = wall_.nsecsElapsed() / 1e6;
        return std::max(0.0, wallMs - (runQueueWaitNs() - waitAtStart_) / 1e6);
    }

private:
    QElapsedTimer wall_;
    int64_t waitAtStart_ = 0;
};

// Ticks every 10 ms on the GUI thread and records the longest time the thread was held between two
// ticks (beyond the interval): any handler, paint or nested call that blocks shows up here.
class Watchdog {
public:
    static constexpr int kIntervalMs = 10;

    Watchdog()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kIntervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longestMs_ = std::max(longestMs_, clock_.elapsedMs() - kIntervalMs);
            ++beats_;
            clock_.restart();
        });
        timer_.start();
    }
    // Forgets what was seen so far (e.g. after a call the test made itself and timed on its own).
    void restart()
    {
        longestMs_ = 0;
        beats_ = 0;
        clock_.restart();
    }
    double longestStallMs() const { return longestMs_; }
    int beats() const { return beats_; }

private:
    QTimer timer_;
    ThreadClock clock_;
    double longestMs_ = 0;
    int beats_ = 0;
};

// The process's CPU time (all threads) as a share of the wall time since the start.
class CpuMeter {
public:
    CpuMeter()
        : cpuAtStart_(cpuNs())
    {
        wall_.start();
    }
    double share() const
    {
        const double wallNs = static_cast<double>(wall_.nsecsElapsed());
        return wallNs > 0 ? (cpuNs() - cpuAtStart_) / wallNs : 0.0;
    }
    qint64 elapsedMs() const { return wall_.elapsed(); }

private:
    static int64_t cpuNs()
    {
        timespec now {};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return int64_t { now.tv_sec } * 1000000000 + now.tv_nsec;
    }

    QElapsedTimer wall_;
    int64_t cpuAtStart_;
};

// Counts the ticks of the two test timers, seen right after their handlers ran.
class TickCounter {
public:
    TickCounter()
    {
        QObject::connect(
            Form1->PCTest_Timer, &platform::WindowTimer::tick, &context_, [this] { ++exchange_; });
        QObject::connect(
            Form1->RXStart_Timer, &platform::WindowTimer::tick, &context_, [this] { ++receive_; });
    }
    int exchange() const { return exchange_; }
    int receive() const { return receive_; }
    bool waitForReceive(int count, std::chrono::milliseconds timeout = 3s) const
    {
        return waitUntil([&] { return receive_ >= count; }, timeout);
    }
    bool waitForExchange(int count, std::chrono::milliseconds timeout = 3s) const
    {
        return waitUntil([&] { return exchange_ >= count; }, timeout);
    }

private:
    QObject context_;
    int exchange_ = 0;
    int receive_ = 0;
};

// Sleeps in the event loop (no polling, unlike waitUntil) until timer has ticked count more times
// or the timeout passed; returns whether it ticked so often. For measuring an idle process.
inline bool sleepForTicks(platform::WindowTimer* timer, int count, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    int seen = 0;
    QObject::connect(timer, &platform::WindowTimer::tick, &loop, [&] {
        if (++seen >= count)
            loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec();
    return seen >= count;
}

// Sleeps in the event loop for the given time.
inline void sleepFor(std::chrono::milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

// Descriptors of this process open on the device (a gone pty's name may carry " (deleted)").
inline int descriptorsOn(const std::string& device)
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (const dirent* entry = readdir(dir)) {
        char target[4096] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        const std::string name(target, static_cast<size_t>(std::max<ssize_t>(length, 0)));
        if (name == device || name == device + " (deleted)")
            ++count;
    }
    closedir(dir);
    return count;
}

// Whether the first eight bytes of RxBuffer are all zero, as a tick that took nothing leaves them.
inline bool firstEightZero()
{
    return std::all_of(Form1->RxBuffer, Form1->RxBuffer + 8, [](uint8_t byte) { return byte == 0; });
}

// The main window with COM1 standing for the slave of a fresh pty, both tests idle.
class FaultWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        useCom1(pty);
        makeIdle();
    }
    void TearDown() override { makeIdle(); }

    static void useCom1(const PtyPair& pair)
    {
        platform::PortRegistry::instance().mapComPort(1, pair.slavePath());
        Form23->CurPortName = "COM1";
    }

    static void makeIdle() { resetMainWindowToIdle(); }

    static void clickTxStart() { QTest::mouseClick(Form1->PCTest_Button, Qt::LeftButton); }
    static void clickRxStart() { QTest::mouseClick(Form1->RXStart_Button, Qt::LeftButton); }

    // The state an ended test leaves: no port, no timer, RX Start usable again.
    static void expectTestsEnded()
    {
        EXPECT_TRUE(Form1->RXStart_Button->isEnabled());
        EXPECT_TRUE(Form1->PCTest_Button->isEnabled());
        EXPECT_FALSE(Form1->PCTest_Timer->enabled());
        EXPECT_FALSE(Form1->RXStart_Timer->enabled());
        EXPECT_EQ(Form1->PortOpen, 0);
        EXPECT_FALSE(platform::isPort(hComm));
    }

    // True when nobody holds the port: this process can take it exclusively (and gives it back).
    static bool portIsFree(const PtyPair& pair)
    {
        const auto opened = platform::openDeviceExclusive(pair.slavePath());
        if (!platform::isPort(opened.handle))
            return false;
        platform::closePort(opened.handle);
        return true;
    }

    PtyPair pty;
};

} // namespace fault
