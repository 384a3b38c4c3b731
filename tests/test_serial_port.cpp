// The port layer and the link's rules over a pty (its slave is the port, its master the far end).
#include "platform/discovery/LockFiles.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/ExitPath.h"
#include "platform/tty/Loopback.h"
#include "platform/tty/Termios2.h"
#include "serial/PortRules.h"
#include "support/FolderContents.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

using namespace std::chrono_literals;
using namespace platform;
using Clock = std::chrono::steady_clock;
using Outcome = serial::Reception::Outcome;

static std::string take(PortHandle port, int count)
{
    std::string bytes(size_t(count), '\0');
    bytes.resize(size_t(readBytes(port, reinterpret_cast<uint8_t*>(bytes.data()), count)));
    return bytes;
}

static bool waiting(PortHandle port, int count)
{
    return PtyPair::waitUntil([&] { return bytesWaiting(port) == count; });
}

struct Port : testing::Test {
    Port() { PortRegistry::instance().mapComPort(5, pty.slavePath()); }
    ~Port() override { closePort(port); }
    PtyPair pty;
    PortHandle port = openDeviceExclusive(pty.slavePath()).handle;
};

// From a cooked line with flow control; a pty forces 8 data bits and parity generation off.
TEST_F(Port, SettingsReachThePtyAndTheLineIsRaw)
{
    termios before {};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_cflag |= CRTSCTS;
    before.c_iflag |= IXON | ICRNL;
    before.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);
    const std::pair<LineSettings, uint32_t> rows[]
        = { { { 12345, 3, 7, 2 }, kSpeedInField | PARODD | CMSPAR | CSTOPB },
              { { 300, 1, 5, 0 }, B300 | PARODD },
              { { 19200, 0, 8, 1 }, B300 | PARODD } }; // refused: left as it was
    for (const auto& [settings, bits] : rows) {
        const bool taken = settings.stopBits != 1;
        ASSERT_EQ(applyLineSettings(port, settings), taken) << settings.baudRate;
        LineBits line;
        LineSettings read;
        ASSERT_TRUE(readLineBits(pty.slaveFd(), line));
        ASSERT_TRUE(readLineSettings(port, read));
        EXPECT_EQ(
            line.cflag & (CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), bits | CS8 | CRTSCTS);
        EXPECT_EQ(line.iflag | line.oflag | line.lflag, uint32_t(IXON));
        EXPECT_EQ(inputSpeed(line) + read.baudRate, 2 * (taken ? settings.baudRate : 300));
    }
    ASSERT_EQ(pty.write("a\rb\n\x03"), 5u);
    ASSERT_TRUE(waiting(port, 5));
    EXPECT_EQ(take(port, 5) + pty.readAvailable(), "a\rb\n\x03") << "received as sent, no echo";
    serial::sendBytes(port, std::string("x\n\0y", 4));
    EXPECT_EQ(pty.read(4), std::string("x\n\0y", 4)) << "sent as given";
    // A pty master is no pty slave, yet forces 8 data bits: a driver changing a setting is refused.
    const PortHandle master = openDeviceExclusive("/dev/ptmx").handle;
    EXPECT_TRUE(applyLineSettings(master, {}));
    EXPECT_FALSE(applyLineSettings(master, { 19200, 0, 7, 0 })) << "7 data bits read back as 8";
    closePort(master);
}

// More than 128 waiting bytes are all discarded, the buffer untouched; a close drops unshared input.
TEST_F(Port, ReceiveTakesUpTo128WaitingBytes)
{
    uint8_t buffer[serial::kReceiveCap + 1];
    for (const int count : { 0, 128, 129, 10000 }) {
        const std::string sent(size_t(count), 'r'); // a pty's line discipline holds 4095 of them at most
        ASSERT_EQ(pty.write(sent), sent.size());
        ASSERT_TRUE(PtyPair::waitUntil([&] { return bytesWaiting(port) >= std::min(count, 4095); }));
        const int before = bytesWaiting(port);
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        const serial::Reception got = serial::receiveInto(port, buffer);
        const bool read = count <= serial::kReceiveCap;
        EXPECT_EQ(got.outcome, read ? Outcome::Read : Outcome::Discarded) << count;
        EXPECT_EQ(got.count, read ? count : before) << count;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer),
            read ? sent + '\0' + std::string(128 - count, '\xEE') : std::string(129, '\xEE'));
        EXPECT_FALSE(PtyPair::waitUntil([&] { return bytesWaiting(port) != 0; }, 20ms))
            << count << ": all taken";
    }
    EXPECT_EQ(serial::receiveInto(kInvalidPort, buffer).outcome, Outcome::NoPort);
    for (const bool shared : { false, true }) {
        // A forked child holds all our descriptors, so none is made unless the port is to be shared.
        const auto sharer
            = shared ? std::make_unique<HolderProcess>(pty.slavePath(), HolderProcess::Way::Share) : nullptr;
        ASSERT_EQ(pty.write("s"), 1u); // the least there is to discard
        ASSERT_TRUE(waiting(port, 1));
        closePort(port);
        port = openDeviceExclusive(pty.slavePath()).handle;
        EXPECT_EQ(take(port, 8), shared ? "s" : "") << "shared " << shared;
    }
}

// A write the far end does not drain stops after its line time plus a second. A hang-up of a node
// still there is a lost carrier; a closed far end is a vanished port, not waited for.
TEST_F(Port, WritesAreBoundAndGonePortsAreToldApart)
{
    ASSERT_TRUE(applyLineSettings(port, { 4000000, 0, 8, 0 }));
    const std::string payload(256 * 1024, 'w'); // 0.66 s on the wire
    auto start = Clock::now();
    EXPECT_LT(
        writeAll(port, reinterpret_cast<const uint8_t*>(payload.data()), payload.size()), payload.size());
    EXPECT_GT(Clock::now() - start, 1650ms) << "it waited its line time";
    EXPECT_LT(Clock::now() - start, 2500ms) << "and a second, no more";
    PtyPair other;
    const PortHandle hungUp = openDeviceExclusive(other.slavePath()).handle;
    EXPECT_EQ(lineState(hungUp), LineState::Up);
    ASSERT_EQ(ioctl(other.slaveFd(), TIOCVHANGUP), 0);
    EXPECT_EQ(lineState(hungUp), LineState::CarrierLost);
    EXPECT_EQ(bytesWaiting(hungUp), 0);
    closePort(hungUp);
    EXPECT_EQ(lineState(port), LineState::Up) << "whatever failed on another port just before";
    ASSERT_EQ(pty.write("lost"), 4u);
    ASSERT_TRUE(waiting(port, 4));
    pty.closeMaster();
    EXPECT_EQ(lineState(port), LineState::Vanished);
    EXPECT_EQ(bytesWaiting(port) + take(port, 4).size(), 0u);
    start = Clock::now();
    serial::sendBytes(port, std::string(100000, 'z')); // its bound is over a second
    EXPECT_LT(Clock::now() - start, 500ms) << "a gone device is not waited for";
}

// A refused port is held while its refusal is told, and closed after.
TEST_F(Port, OpenAndConfigureReportsWhichStepFailed)
{
    closePort(std::exchange(port, kInvalidPort));
    const std::string pts = pty.slavePath();
    using enum OpenFailure;
    const std::tuple<std::string, OpenFailure, LineSettings> rows[]
        = { { "COM5", None, {} }, { "COM200", NoSuchPort, {} }, { "COM5", None, { 19200, 0, 8, 1 } } };
    for (const auto& [name, failure, settings] : rows) {
        SCOPED_TRACE(name + " stop bits " + std::to_string(settings.stopBits));
        LineSettings request = settings;
        request.portName = name;
        PortHandle opened = kNeverOpened;
        std::vector<std::string> reports;
        bool held = false;
        const auto report = [&](const char* message) {
            reports.push_back(message);
            held = isPort(opened) && !HolderProcess(pts).holding();
        };
        const bool configured = serial::openAndConfigure(opened, request, report);
        const bool ok = failure == None;
        EXPECT_EQ(configured, ok && settings.stopBits == 0);
        EXPECT_EQ(
            reports, std::vector<std::string>(!configured, ok ? serial::kSettingsError : serial::kOpenError));
        EXPECT_EQ(held, ok && !configured) << "the port is held while its refusal is told";
        EXPECT_TRUE(configured ? fcntl(opened, F_GETFD) == FD_CLOEXEC : opened == kInvalidPort);
        serial::closeAndForget(opened);
        EXPECT_TRUE(HolderProcess(pts).holding()) << "nothing left open or locked";
    }
}

// Ours stay to the close: a signal a command ends itself on is only noted; a forked child releases none.
TEST_F(Port, HoldsItsLocksUntilTheCloseThroughADeferredSignalAndAChildsExit)
{
    const std::string held = "TIOCEXCL flock /run/lock/" + lockFileName(pty.slavePath());
    EXPECT_EQ(pty.locksLeft(), held) << "while open";
    deferSignal(SIGINT);
    raise(SIGINT);
    EXPECT_EQ(deferredSignal(), SIGINT);
    EXPECT_EQ(pty.locksLeft(), held) << "after the deferred signal";
    deferSignal(SIGINT);
    EXPECT_EQ(deferredSignal(), 0) << "a signal noted for an earlier command is not the next one's";
    if (fork() == 0) { // its copy of the record is not its own
        endOnBrokenPipe();
        _exit(0);
    }
    int status = 0;
    wait(&status);
    EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, SIGPIPE) << "a broken pipe ends it, a port held";
    EXPECT_EQ(pty.locksLeft(), held) << "after a forked child's exit";
    PtyPair other;
    int reopened = 0;
    for (int i = 0; i < 33; ++i) { // one more than the exit path has room for, beside ours
        const PortHandle again = openDeviceExclusive(other.slavePath()).handle;
        reopened += isPort(again);
        closePort(again);
    }
    EXPECT_EQ(reopened, 33) << "each close gives its room back";
    EXPECT_EQ(pty.locksLeft(), held) << "after another port's closes";
    closePort(std::exchange(port, kInvalidPort));
    EXPECT_EQ(pty.locksLeft(), "") << "after the close";
    const sighandler_t callers = [](int) {};
    signal(SIGTERM, callers);
    closePort(openDeviceExclusive(pty.slavePath()).handle);
    EXPECT_EQ(signal(SIGTERM, SIG_DFL), callers) << "the caller's handler is given back at the close";
    EXPECT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL) << "SIGPIPE is ignored only while a port is held";
}

TEST(LoopbackPort, EchoesAndDrainsDuringALongWrite)
{
    const auto before = openDescriptors();
    Loopback loopback;
    ASSERT_TRUE(loopback.start());
    const PortHandle port = openDeviceExclusive(loopback.devicePath()).handle;
    serial::sendBytes(port, "A\nB\r\x03");
    ASSERT_TRUE(waiting(port, 5));
    EXPECT_EQ(take(port, 8), "A\nB\r\x03") << "echoed as sent";
    ASSERT_TRUE(applyLineSettings(port, { 4000000, 0, 8, 0 }));
    auto back = std::async(std::launch::async, [&, got = size_t(0)]() mutable {
        PtyPair::waitUntil([&] { return (got += take(port, 4096).size()) == 200000; });
        return got;
    });
    serial::sendBytes(port, std::string(200000, 'x')); // more than a pty holds: the echo waits for room
    EXPECT_EQ(back.get(), 200000u) << "every byte came back";
    closePort(port);
    loopback.stop();
    EXPECT_EQ(openDescriptors(), before) << "the loop-back port's descriptors are all closed";
}
