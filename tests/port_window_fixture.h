// What the window tests of "TX Start" and "RX Start" share: the real main window with COM1 mapped to
// a fresh pty, a far end that answers on a thread of its own, a log of the timers' ticks, and a
// way to act while a message box is up.
#pragma once

#include "app/Main.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

// The device at the far end of the cable: records every byte that arrives and sends back what
// answer makes of it, as soon as it arrives. It runs on its own thread, so it answers while the
// GUI thread is busy in a click.
class FarEnd {
public:
    using Answer = std::function<std::string(const std::string& arrived)>;

    FarEnd(PtyPair& pty, Answer answer)
        : master_(pty.masterFd())
        , answer_(std::move(answer))
        , thread_([this] { run(); })
    {
    }
    ~FarEnd()
    {
        stop_ = true;
        thread_.join();
    }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    static Answer echo()
    {
        return [](const std::string& arrived) { return arrived; };
    }
    static Answer silent()
    {
        return [](const std::string&) { return std::string(); };
    }
    // Answers the first arrival with reply, and nothing after it.
    static Answer replyOnce(std::string reply)
    {
        return [reply, sent = false](const std::string&) mutable {
            if (sent)
                return std::string();
            sent = true;
            return reply;
        };
    }

    std::string received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void run()
    {
        char chunk[4096];
        while (!stop_) {
            pollfd entry { master_, POLLIN, 0 };
            if (poll(&entry, 1, 10) <= 0 || !(entry.revents & POLLIN))
                continue;
            const ssize_t got = ::read(master_, chunk, sizeof chunk);
            if (got <= 0)
                continue;
            const std::string arrived(chunk, static_cast<size_t>(got));
            {
                std::lock_guard lock(mutex_);
                received_ += arrived;
            }
            sendBack(answer_(arrived));
        }
    }

    void sendBack(const std::string& reply)
    {
        size_t done = 0;
        while (done < reply.size() && !stop_) {
            const ssize_t took = ::write(master_, reply.data() + done, reply.size() - done);
            if (took > 0) {
                done += static_cast<size_t>(took);
                continue;
            }
            pollfd entry { master_, POLLOUT, 0 };
            poll(&entry, 1, 10);
        }
    }

    int master_;
    Answer answer_;
    std::atomic<bool> stop_ { false };
    mutable std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// One tick of PCTest_Timer ("exchange") or RXStart_Timer ("receive"), seen right after its handler.
struct Tick {
    std::string timer;
    qint64 atMs = 0;
    QString rxText;
    std::vector<uint8_t> rxBuffer;
    bool rxStartEnabled = false;
    uint8_t portOpen = 0;
};

// Records the ticks of both test timers, with times from its own creation.
class TickLog {
public:
    TickLog()
    {
        clock_.start();
        QObject::connect(Form1->PCTest_Timer, &platform::WindowTimer::tick, &context_,
            [this] { ticks_.push_back(snapshot("exchange")); });
        QObject::connect(Form1->RXStart_Timer, &platform::WindowTimer::tick, &context_,
            [this] { ticks_.push_back(snapshot("receive")); });
    }

    qint64 nowMs() const { return clock_.elapsed(); }
    const std::vector<Tick>& ticks() const { return ticks_; }
    size_t count(const std::string& timer) const
    {
        size_t n = 0;
        for (const Tick& tick : ticks_)
            n += tick.timer == timer ? 1 : 0;
        return n;
    }
    // Waits until timer has ticked count times in all.
    bool waitFor(const std::string& timer, size_t count, std::chrono::milliseconds timeout = 3s) const
    {
        return waitUntil([&] { return this->count(timer) >= count; }, timeout);
    }
    const Tick* last(const std::string& timer) const
    {
        for (auto it = ticks_.rbegin(); it != ticks_.rend(); ++it)
            if (it->timer == timer)
                return &*it;
        return nullptr;
    }

private:
    Tick snapshot(const std::string& timer) const
    {
        return { timer, clock_.elapsed(), Form1->RX_Edit->text(),
            std::vector<uint8_t>(std::begin(Form1->RxBuffer), std::end(Form1->RxBuffer)),
            Form1->RXStart_Button->isEnabled(), Form1->PortOpen };
    }

    QObject context_;
    QElapsedTimer clock_;
    std::vector<Tick> ticks_;
};

// Runs action once, from the event loop, as soon as the watcher has seen boxesSeen message boxes
// and one is up; the action runs inside the box's own loop, as a user's click there would.
class WhenBoxShows {
public:
    WhenBoxShows(const MessageBoxWatcher& watcher, size_t boxesSeen, std::function<void()> action)
    {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this, &watcher, boxesSeen, action = std::move(action)] {
            if (watcher.seen().size() < boxesSeen || !visibleMessageBox())
                return;
            poll_.stop();
            done_ = true;
            action();
        });
        poll_.start();
    }
    bool done() const { return done_; }

private:
    QTimer poll_;
    bool done_ = false;
};

// The main window with COM1 standing for the slave of a fresh pty, and both tests idle.
class WindowOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        platform::PortRegistry::instance().mapComPort(1, pty.slavePath());
        makeIdle();
    }
    void TearDown() override { makeIdle(); }

    static void makeIdle() { resetMainWindowToIdle(); }

    static void clickTxStart() { QTest::mouseClick(Form1->PCTest_Button, Qt::LeftButton); }
    static void clickRxStart() { QTest::mouseClick(Form1->RXStart_Button, Qt::LeftButton); }
    static void typeIntoTxEdit(const QString& text)
    {
        Form1->TX_Edit->setFocus();
        QTest::keyClicks(Form1->TX_Edit, text);
    }
    static void putIntoRxBuffer(const std::string& bytes)
    {
        std::memcpy(Form1->RxBuffer, bytes.data(), bytes.size());
        Form1->RxBuffer[bytes.size()] = 0;
    }

    // True when nobody holds the port: this process can take it exclusively (and gives it back).
    bool portIsFree() const
    {
        const auto opened = platform::openDeviceExclusive(pty.slavePath());
        if (!platform::isPort(opened.handle))
            return false;
        platform::closePort(opened.handle);
        return true;
    }

    PtyPair pty;
};
