// The port layer and the link's rules over real ptys: the port is a pty's slave, mapped as COM5, and
// the far end its master.
#include "platform/registry/PortRegistry.h"
#include "platform/tty/Loopback.h"
#include "platform/tty/ModemLines.h"
#include "serial/PortRules.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

using namespace std::chrono_literals;
using namespace platform;
using Clock = std::chrono::steady_clock;

struct Port : testing::Test {
    Port() { PortRegistry::instance().mapComPort(5, pty.slavePath()); }
    ~Port() override { PortRegistry::instance().reset(); }
    static PortHandle open(const LineSettings& settings = {})
    {
        const PortHandle port = openPortExclusive("COM5").handle;
        EXPECT_TRUE(applyLineSettings(port, settings));
        return port;
    }
    static std::string take(PortHandle port, int count)
    {
        std::string bytes(size_t(count), '\0');
        bytes.resize(size_t(readBytes(port, reinterpret_cast<uint8_t*>(bytes.data()), count)));
        return bytes;
    }
    static bool waiting(PortHandle port, size_t count)
    {
        return PtyPair::waitUntil([&] { return size_t(bytesWaiting(port)) == count; });
    }
    static bool isFree(const std::string& path) { return HolderProcess(path).holding(); }
    PtyPair pty;
};

// From a line left cooked with flow control, each setting reaches the pty field by field (a pty
// forces 8 data bits and parity generation off); flow control is kept and the line is raw both
// ways. A pty has no modem lines and no loop mode.
TEST_F(Port, SettingsReachThePtyAndTheLineIsRaw)
{
    termios before {};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_cflag |= CRTSCTS | CMSPAR | PARODD | CSTOPB;
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);
    const PortHandle port = open();
    const std::pair<LineSettings, uint32_t> rows[]
        = { { { 12345, 3, 7, 2 }, kSpeedInField | PARODD | CMSPAR | CSTOPB },
              { { 115200, 4, 8, 0 }, B115200 | CMSPAR }, { { 300, 1, 5, 2 }, B300 | PARODD | CSTOPB },
              { { 19200, 2, 6, 0 }, B19200 }, { { 19200, 0, 8, 1 }, 0 } };
    for (const auto& [settings, bits] : rows) {
        ASSERT_EQ(applyLineSettings(port, settings), bits != 0) << settings.baudRate;
        LineBits line;
        LineSettings read;
        bool isPty = false;
        ASSERT_TRUE(pty.slaveLine(line) && readLineSettings(port, read, &isPty) && isPty);
        const uint32_t kept = bits ? bits : B19200; // a refusal leaves the line as it was
        EXPECT_EQ(
            line.cflag & (CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), kept | CS8 | CRTSCTS);
        EXPECT_EQ(line.iflag | line.oflag | line.lflag, uint32_t(IXON | IXOFF));
        EXPECT_EQ(inputSpeed(line) + read.baudRate, 2 * (bits ? settings.baudRate : 19200))
            << settings.baudRate;
    }
    ASSERT_EQ(pty.write("a\rb\n\x03"), 5u);
    ASSERT_TRUE(waiting(port, 5));
    EXPECT_EQ(take(port, 5), "a\rb\n\x03") << "received as sent";
    EXPECT_EQ(pty.readAvailable(), "") << "no echo";
    serial::sendBytes(port, std::string("x\n\0y", 4));
    EXPECT_EQ(pty.read(4), std::string("x\n\0y", 4)) << "sent as given";
    EXPECT_FALSE(
        readModemInputs(port) || setRequestToSend(port, true) || startLoopMode(port) || inLoopMode(port));
    EXPECT_EQ(PortRegistry::instance().loopMode().port.load(), -1) << "loop mode free for another port";
    closePort(port);
    // A driver that changes a setting is refused: a pty master is no pty slave, yet forces 8 data bits.
    const PortHandle master = openDeviceExclusive("/dev/ptmx").handle;
    EXPECT_TRUE(applyLineSettings(master, {}) && !applyLineSettings(master, { 19200, 0, 7, 0 }));
    closePort(master);
}

// At most 128 waiting bytes are read and terminated; more are all discarded and the buffer kept.
// Opening discards nothing; closing discards unread input unless another process shares the port.
TEST_F(Port, ReceiveReadsUpTo128WaitingBytesAndDiscardsMore)
{
    ASSERT_EQ(pty.write("early"), 5u);
    PortHandle port = open({ 4000000, 0, 8, 0 });
    ASSERT_TRUE(waiting(port, 5)) << "the open discarded nothing";
    EXPECT_EQ(take(port, 3), "ear") << "no more than asked";
    EXPECT_EQ(take(port, 8), "ly");
    uint8_t buffer[serial::kReceiveCap + 1];
    for (const size_t count : { 0, 3, 128, 129, 10000 }) {
        std::string sent(count, '\0');
        for (size_t i = 0; i < count; ++i)
            sent[i] = char('!' + i % 90);
        ASSERT_EQ(pty.write(sent), count);
        ASSERT_TRUE(PtyPair::waitUntil([&] { return bytesWaiting(port) >= std::min<int>(count, 4095); }));
        const int before = bytesWaiting(port); // a pty's line discipline holds at most 4095 of them
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        const serial::Reception got = serial::receiveInto(port, buffer);
        const bool read = count <= serial::kReceiveCap;
        EXPECT_EQ(
            got.outcome, read ? serial::Reception::Outcome::Read : serial::Reception::Outcome::Discarded);
        EXPECT_EQ(got.count, read ? int(count) : before) << count;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), std::min<size_t>(count, 129)),
            read ? sent : std::string(129, '\xEE'));
        EXPECT_EQ(buffer[read ? got.count : 128], read ? 0 : 0xEE);
        EXPECT_FALSE(PtyPair::waitUntil([&] { return bytesWaiting(port) != 0; }, 20ms))
            << count << ": all taken";
    }
    EXPECT_EQ(serial::receiveInto(kInvalidPort, buffer).outcome, serial::Reception::Outcome::NoPort);
    for (const bool shared : { false, true }) {
        std::optional<HolderProcess> sharer;
        if (shared)
            sharer.emplace(pty.slavePath(), nullptr, HolderProcess::Way::Share);
        ASSERT_EQ(pty.write("stale"), 5u);
        ASSERT_TRUE(waiting(port, 5));
        closePort(port);
        port = open();
        ASSERT_EQ(pty.write("x"), 1u);
        ASSERT_TRUE(waiting(port, shared ? 6 : 1)) << (shared ? "shared: kept" : "ours alone: discarded");
        take(port, 8);
    }
    closePort(port);
}

// A far end that does not drain stops a write after the line time of its bytes plus a second; a
// hang-up of a node still there is a lost carrier; a far end closed is a vanished port, which
// counts and reads nothing and is not waited for.
TEST_F(Port, WritesAreBoundAndGonePortsAreToldApart)
{
    const PortHandle port = open({ 4000000, 0, 8, 0 });
    const std::string payload(256 * 1024, 'w');
    const auto bound = std::chrono::microseconds(payload.size() * 10 * 1000000 / 4000000) + 1s;
    auto start = Clock::now();
    EXPECT_LT(
        writeAll(port, reinterpret_cast<const uint8_t*>(payload.data()), payload.size()), payload.size());
    EXPECT_GE(Clock::now() - start, bound - 5ms) << "gave up early";
    EXPECT_LT(Clock::now() - start, bound + 1s) << "blocked past its bound";

    PtyPair other;
    const PortHandle hungUp = openDeviceExclusive(other.slavePath()).handle;
    EXPECT_EQ(lineState(hungUp), LineState::Up);
    ASSERT_EQ(ioctl(other.slaveFd(), TIOCVHANGUP), 0);
    EXPECT_EQ(lineState(hungUp), LineState::CarrierLost);
    EXPECT_EQ(bytesWaiting(hungUp), 0);
    EXPECT_EQ(lineState(port), LineState::Up) << "whatever failed on another port just before";
    closePort(hungUp);

    ASSERT_EQ(pty.write("lost"), 4u);
    ASSERT_TRUE(waiting(port, 4));
    pty.closeMaster();
    EXPECT_EQ(lineState(port), LineState::Vanished);
    EXPECT_EQ(bytesWaiting(port) + take(port, 4).size(), 0u);
    start = Clock::now();
    serial::sendBytes(port, std::string(100000, 'z')); // its bound is over a second
    EXPECT_LT(Clock::now() - start, 500ms) << "a gone device is not waited for";
    closePort(port);
}

// Only a COM name opens, only its own device, as a descriptor above 2 that children do not inherit.
// The report tells the open error without a port, and the settings error while the new port is still
// held; it is closed after the report unless closeAndForget closed it during the report.
TEST_F(Port, OpenAndConfigureOpensComNamesOnlyAndReportsWhichStepFailed)
{
    char file[] = "/tmp/comtest-no-tty-XXXXXX";
    ::close(mkstemp(file));
    PortRegistry::instance().mapComPort(7, file);
    PortRegistry::instance().mapComPort(9, "/dev/comtest-missing");
    const struct {
        std::string name, device;
        OpenFailure failure;
        LineSettings settings;
        bool closeInReport = false;
    } rows[] = { { "COM5", pty.slavePath(), OpenFailure::None, {} },
        { pty.slavePath(), "", OpenFailure::NoSuchPort, {} }, { "COM0", "", OpenFailure::NoSuchPort, {} },
        { "com5", "", OpenFailure::NoSuchPort, {} }, { "COM7", file, OpenFailure::NotATty, {} },
        { "COM9", "/dev/comtest-missing", OpenFailure::NoSuchPort, {} },
        { "COM200", "/dev/ttyS199", OpenFailure::NoSuchPort, {} },
        { "COM5", pty.slavePath(), OpenFailure::None, { 19200, 0, 8, 1 } },
        { "COM5", pty.slavePath(), OpenFailure::None, { 19200, 5, 8, 0 }, true } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name + (row.closeInReport ? ", closed in the report" : ""));
        const bool settingsTaken = row.settings.stopBits == 0 && row.settings.parity == 0;
        LineSettings request = row.settings;
        request.portName = row.name;
        PortHandle port = kNeverOpened;
        std::vector<std::string> reports;
        bool held = false;
        int reused = -1;
        serial::OpenOutcome outcome;
        const int input = dup(STDIN_FILENO);
        ::close(STDIN_FILENO);
        const bool configured = serial::openAndConfigure(
            port, request,
            [&](const char* message) {
                reports.push_back(message);
                held = isPort(port) && !isFree(pty.slavePath());
                if (row.closeInReport) {
                    serial::closeAndForget(port);
                    reused = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3); // may take the closed number
                }
            },
            &outcome);
        EXPECT_EQ(fcntl(STDIN_FILENO, F_GETFD), -1) << "nothing of ours poses as standard input";
        dup2(input, STDIN_FILENO);
        ::close(input);
        EXPECT_EQ(outcome.opened.failure, row.failure);
        EXPECT_EQ(outcome.opened.device, row.device);
        const bool opened = row.failure == OpenFailure::None;
        EXPECT_EQ(configured, opened && settingsTaken);
        EXPECT_EQ(reports,
            std::vector<std::string>(!configured, opened ? serial::kSettingsError : serial::kOpenError));
        EXPECT_EQ(held, opened && !configured) << "the port is held while its refusal is told";
        EXPECT_TRUE(configured ? port > 2 && fcntl(port, F_GETFD) == FD_CLOEXEC : port == kInvalidPort)
            << port;
        EXPECT_TRUE(reused < 0 || fcntl(reused, F_GETFD) != -1) << "a number reused meanwhile is left open";
        ::close(reused);
        serial::closeAndForget(port);
        EXPECT_TRUE(isFree(pty.slavePath()) && isFree(file)) << "nothing left open or locked";
    }
    unlink(file);
}

// The built-in loop-back port echoes byte for byte without any settings of ours, is exclusive, and
// drains while a long write runs.
TEST(LoopbackPort, EchoesIsExclusiveAndDrainsDuringALongWrite)
{
    Loopback loopback;
    ASSERT_TRUE(loopback.start());
    PortRegistry::instance().mapComPort(1, loopback.devicePath());
    const PortHandle port = openPortExclusive("COM1").handle;
    EXPECT_EQ(openPortExclusive("COM1").failure, OpenFailure::Busy);
    serial::sendBytes(port, "A\nB\r\x03");
    ASSERT_TRUE(PtyPair::waitUntil([&] { return bytesWaiting(port) == 5; }));
    uint8_t got[8] = {};
    EXPECT_EQ(readBytes(port, got, 8), 5);
    EXPECT_STREQ(reinterpret_cast<char*>(got), "A\nB\r\x03") << "echoed as sent";
    ASSERT_TRUE(applyLineSettings(port, { 115200, 0, 8, 0 }));
    const auto start = Clock::now();
    serial::sendBytes(port, std::string(3000, 'x'));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_TRUE(PtyPair::waitUntil([&] { return bytesWaiting(port) == 3000; })) << "every byte came back";
    closePort(port);
    PortRegistry::instance().reset();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
