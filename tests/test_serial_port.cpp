#include "platform/discovery/LockFiles.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using platform::LineSettings;
using platform::OpenFailure;
using platform::PortHandle;
using Clock = std::chrono::steady_clock;

namespace {

std::string bytesOf(size_t count, char first)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(first + static_cast<char>(i % 64));
    return bytes;
}

std::string readFromPort(PortHandle port, int count)
{
    std::vector<uint8_t> into(static_cast<size_t>(count) + 16, 0xEE);
    const int got = platform::readBytes(port, into.data(), count);
    return std::string(into.begin(), into.begin() + std::max(got, 0));
}

} // namespace

// A port opened on the slave of a fresh pty, the far end on its master.
class PortOverPty : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (PortHandle port : opened_)
            platform::closePort(port);
        platform::PortRegistry::instance().reset();
    }

    PortHandle openPort(const LineSettings& settings = {})
    {
        const platform::OpenResult result = platform::openDeviceExclusive(pty.slavePath());
        EXPECT_EQ(result.failure, OpenFailure::None) << "open of " << pty.slavePath();
        if (!platform::isPort(result.handle))
            return result.handle;
        opened_.push_back(result.handle);
        EXPECT_TRUE(platform::applyLineSettings(result.handle, settings)) << "line settings taken";
        return result.handle;
    }

    void closePort(PortHandle port)
    {
        platform::closePort(port);
        std::erase(opened_, port);
    }

    bool waitForWaiting(PortHandle port, int count)
    {
        return PtyPair::waitUntil([&] { return platform::bytesWaiting(port) == count; });
    }

    PtyPair pty;

private:
    std::vector<PortHandle> opened_;
};

class PortInputOverPty : public PortOverPty { };

TEST_F(PortInputOverPty, NothingWaitingCountsZeroAndReadsNothing)
{
    const PortHandle port = openPort();
    EXPECT_EQ(platform::bytesWaiting(port), 0);
    EXPECT_EQ(readFromPort(port, 128), "") << "a read with nothing waiting returns at once, empty";
}

TEST_F(PortInputOverPty, WaitingBytesAreCountedAndReadInFull)
{
    const PortHandle port = openPort();
    for (size_t count : { 3, 128, 129 }) {
        SCOPED_TRACE(std::to_string(count) + " bytes waiting");
        const std::string sent = bytesOf(count, 'A');
        ASSERT_EQ(pty.write(sent), count);
        ASSERT_TRUE(waitForWaiting(port, static_cast<int>(count))) << platform::bytesWaiting(port);
        EXPECT_EQ(readFromPort(port, static_cast<int>(count)), sent) << "bytes from the wire";
        EXPECT_EQ(platform::bytesWaiting(port), 0);
    }
}

TEST_F(PortInputOverPty, ReadTakesNoMoreThanAsked)
{
    const PortHandle port = openPort();
    const std::string sent = bytesOf(129, '0');
    ASSERT_EQ(pty.write(sent), sent.size());
    ASSERT_TRUE(waitForWaiting(port, 129));
    EXPECT_EQ(readFromPort(port, 128), sent.substr(0, 128));
    EXPECT_EQ(platform::bytesWaiting(port), 1);
    EXPECT_EQ(readFromPort(port, 128), sent.substr(128));
}

TEST_F(PortInputOverPty, DiscardDropsWaitingBytesAndKeepsOnlyLaterOnes)
{
    const PortHandle port = openPort();
    ASSERT_EQ(pty.write(bytesOf(129, 'a')), 129u);
    ASSERT_TRUE(waitForWaiting(port, 129));
    platform::discardInput(port);
    EXPECT_EQ(platform::bytesWaiting(port), 0);
    ASSERT_EQ(pty.write("new"), 3u);
    ASSERT_TRUE(waitForWaiting(port, 3));
    EXPECT_EQ(readFromPort(port, 3), "new");
}

TEST_F(PortInputOverPty, OpenDiscardsNothingAlreadyWaiting)
{
    ASSERT_EQ(pty.write("early"), 5u);
    const PortHandle port = openPort();
    ASSERT_TRUE(waitForWaiting(port, 5)) << "bytes sent before the open are still there";
    EXPECT_EQ(readFromPort(port, 5), "early");
}

// A reopen starts empty, unless another process shares the device: what waits then is its input.
TEST_F(PortInputOverPty, CloseDiscardsUnreadInputOnlyWhenNoOtherProcessHasThePort)
{
    for (const bool shared : { false, true }) {
        SCOPED_TRACE(shared ? "shared with another process" : "ours alone");
        std::optional<HolderProcess> sharer;
        if (shared) {
            ASSERT_TRUE(sharer.emplace(pty.slavePath(), nullptr, HolderProcess::Way::Share).holding());
        }
        const PortHandle first = openPort();
        ASSERT_EQ(pty.write("stale"), 5u);
        ASSERT_TRUE(waitForWaiting(first, 5));
        closePort(first);

        const PortHandle second = openPort();
        ASSERT_EQ(pty.write("x"), 1u);
        const std::string left = shared ? "stalex" : "x";
        ASSERT_TRUE(waitForWaiting(second, int(left.size())));
        EXPECT_EQ(readFromPort(second, 8), left);
        closePort(second);
    }
}

TEST_F(PortInputOverPty, RawLineTranslatesNothingEitherWay)
{
    termios cooked {};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &cooked), 0);
    cooked.c_iflag |= ICRNL;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &cooked), 0);

    const PortHandle port = openPort();
    ASSERT_EQ(pty.write("a\rb\n\x03"), 5u);
    ASSERT_TRUE(waitForWaiting(port, 5));
    EXPECT_EQ(readFromPort(port, 5), "a\rb\n\x03") << "received as sent";
    EXPECT_EQ(pty.readAvailable(), "") << "no echo";

    const uint8_t line[] = { 'x', '\n' };
    ASSERT_EQ(platform::writeAll(port, line, 2), 2u);
    EXPECT_EQ(pty.read(2), "x\n") << "no CR added";
}

class PortOpening : public PortOverPty { };

TEST_F(PortOpening, MappedComNameOpensItsDeviceAndIsNotedAsHeld)
{
    platform::PortRegistry::instance().mapComPort(5, pty.slavePath());
    const platform::OpenResult result = platform::openPortExclusive("COM5");
    ASSERT_EQ(result.failure, OpenFailure::None);
    EXPECT_GE(result.handle, 3);
    EXPECT_EQ(result.device, pty.slavePath());
    // Without a writable lock folder the port is held by flock and TIOCEXCL alone.
    const std::string lockFile
        = ::access("/run/lock", W_OK) == 0 ? "/run/lock/" + platform::lockFileName(pty.slavePath()) : "";
    EXPECT_EQ(
        platform::PortRegistry::instance().lockFileOf(result.handle), std::optional<std::string>(lockFile))
        << "held with our lock file";
    platform::closePort(result.handle);
    EXPECT_FALSE(platform::PortRegistry::instance().lockFileOf(result.handle)) << "released on close";
}

TEST_F(PortOpening, MissingDeviceFailsAsNoSuchPort)
{
    const std::string missing = "/dev/comtest-no-such-device";
    platform::PortRegistry::instance().mapComPort(9, missing);
    const platform::OpenResult byName = platform::openPortExclusive("COM9");
    EXPECT_EQ(byName.failure, OpenFailure::NoSuchPort);
    EXPECT_EQ(byName.handle, platform::kInvalidPort);
    EXPECT_EQ(byName.device, missing);
    EXPECT_EQ(platform::openDeviceExclusive(missing).failure, OpenFailure::NoSuchPort);
}

TEST_F(PortOpening, NameThatIsNoComNameIsNeverOpenedAsAPath)
{
    for (const std::string& name : { pty.slavePath(), std::string("COM0"), std::string("com1") }) {
        const platform::OpenResult result = platform::openPortExclusive(name);
        EXPECT_EQ(result.failure, OpenFailure::NoSuchPort) << name;
        EXPECT_EQ(result.handle, platform::kInvalidPort) << name;
        EXPECT_EQ(result.device, "") << name;
    }
    EXPECT_TRUE(platform::isPort(openPort())) << "the device was left free";
}

TEST_F(PortOpening, FileThatIsNoTtyIsRefusedAndLeftClosed)
{
    char path[] = "/tmp/comtest-not-a-tty-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    close(file);
    const platform::OpenResult result = platform::openDeviceExclusive(path);
    EXPECT_EQ(result.failure, OpenFailure::NotATty);
    EXPECT_EQ(result.handle, platform::kInvalidPort);
    const int probe = open(path, O_RDONLY);
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0) << "no lock left behind";
    close(probe);
    unlink(path);
}

TEST_F(PortOpening, SecondOpenOfAHeldPortIsRefusedAsBusy)
{
    const PortHandle port = openPort();
    ASSERT_TRUE(platform::isPort(port));
    const platform::OpenResult second = platform::openDeviceExclusive(pty.slavePath());
    EXPECT_EQ(second.failure, OpenFailure::Busy);
    EXPECT_EQ(second.handle, platform::kInvalidPort);
    closePort(port);
    EXPECT_TRUE(platform::isPort(openPort())) << "free again after the close";
}

TEST_F(PortOpening, PlainOpenWithoutLockDoesNotHoldThePort)
{
    const int plain = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(plain, 0);
    EXPECT_TRUE(platform::isPort(openPort())) << "another descriptor without a lock, as cat has";
    close(plain);
}

TEST_F(PortOpening, DescriptorIsAboveTheStandardStreamsAndNotInherited)
{
    const int savedInput = dup(STDIN_FILENO);
    ASSERT_GE(savedInput, 0);
    close(STDIN_FILENO);
    const platform::OpenResult result = platform::openDeviceExclusive(pty.slavePath());
    const bool inputLeftClosed = fcntl(STDIN_FILENO, F_GETFD) == -1;
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);

    ASSERT_EQ(result.failure, OpenFailure::None);
    EXPECT_GE(result.handle, 3);
    EXPECT_TRUE(inputLeftClosed) << "descriptor 0 was not kept";
    EXPECT_NE(fcntl(result.handle, F_GETFD) & FD_CLOEXEC, 0) << "not inherited by children";
    platform::closePort(result.handle);
}

TEST_F(PortOpening, ClosingNoPortDoesNothing)
{
    const bool inputOpen = fcntl(STDIN_FILENO, F_GETFD) != -1;
    platform::closePort(platform::kNeverOpened);
    platform::closePort(platform::kInvalidPort);
    EXPECT_EQ(fcntl(STDIN_FILENO, F_GETFD) != -1, inputOpen) << "descriptor 0 untouched";
    EXPECT_EQ(platform::bytesWaiting(platform::kNeverOpened), 0);
    EXPECT_FALSE(platform::applyLineSettings(platform::kInvalidPort, {}));
}

// A child process that holds the port with flock, as picocom or another instance would.
class LockingChild {
public:
    explicit LockingChild(const std::string& devicePath)
    {
        if (pipe2(ready_, O_CLOEXEC) != 0 || pipe2(release_, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0)
            runChild(devicePath);
        close(ready_[1]);
        close(release_[0]);
    }

    ~LockingChild()
    {
        release();
        close(ready_[0]);
    }

    // True once the child reports that it holds the lock.
    bool holdsLock()
    {
        pollfd entry { ready_[0], POLLIN, 0 };
        char answer = 0;
        return pid_ > 0 && poll(&entry, 1, 5000) == 1 && read(ready_[0], &answer, 1) == 1 && answer == 'L';
    }

    void release()
    {
        if (pid_ <= 0)
            return;
        close(release_[1]);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    [[noreturn]] void runChild(const std::string& devicePath)
    {
        close(ready_[0]);
        close(release_[1]);
        const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char answer = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'L' : 'E';
        if (write(ready_[1], &answer, 1) == 1) {
            char ignored;
            while (read(release_[0], &ignored, 1) > 0) { }
        }
        _exit(0);
    }

    int ready_[2] = { -1, -1 };
    int release_[2] = { -1, -1 };
    pid_t pid_ = -1;
};

TEST_F(PortOpening, PortLockedByAnotherProcessIsRefusedAsBusy)
{
    LockingChild other(pty.slavePath());
    ASSERT_TRUE(other.holdsLock());
    const platform::OpenResult refused = platform::openDeviceExclusive(pty.slavePath());
    EXPECT_EQ(refused.failure, OpenFailure::Busy);
    EXPECT_EQ(refused.handle, platform::kInvalidPort);
    other.release();
    EXPECT_TRUE(platform::isPort(openPort())) << "free once the other process let go";
}

class PortSettingsOverPty : public PortOverPty {
protected:
    platform::LineBits slaveLine()
    {
        platform::LineBits bits;
        EXPECT_TRUE(pty.slaveLine(bits));
        return bits;
    }
};

TEST_F(PortSettingsOverPty, NonStandardSpeedStopBitsAndMarkParityReachTheDriver)
{
    const PortHandle port = openPort({ 12345, 3, 7, 2 });
    const platform::LineBits line = slaveLine();
    EXPECT_EQ(platform::outputSpeed(line), 12345u);
    EXPECT_EQ(platform::inputSpeed(line), 12345u);
    EXPECT_NE(line.cflag & CSTOPB, 0u) << "two stop bits";
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR), uint32_t(PARODD | CMSPAR)) << "mark parity";
    EXPECT_EQ(line.cflag & (CSIZE | PARENB), uint32_t(CS8)) << "what a pty forces";

    LineSettings reported;
    bool isPty = false;
    ASSERT_TRUE(platform::readLineSettings(port, reported, &isPty));
    EXPECT_TRUE(isPty);
    EXPECT_EQ(reported.baudRate, 12345u);
    EXPECT_EQ(reported.stopBits, 2);
}

TEST_F(PortSettingsOverPty, SpaceParityAndStandardSpeedReachTheDriver)
{
    openPort({ 115200, 4, 8, 0 });
    const platform::LineBits line = slaveLine();
    EXPECT_EQ(line.cflag & CBAUD, uint32_t(B115200));
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR | CSTOPB), uint32_t(CMSPAR)) << "space parity, one stop bit";
}

TEST_F(PortSettingsOverPty, FlowControlIsKeptAndStickyParityClearedForEven)
{
    termios before {};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_cflag |= CRTSCTS | CMSPAR | PARODD | CSTOPB;
    before.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);

    openPort({ 19200, 2, 8, 0 });
    const platform::LineBits line = slaveLine();
    EXPECT_NE(line.cflag & CRTSCTS, 0u) << "RTS/CTS kept";
    EXPECT_EQ(line.iflag & (IXON | IXOFF), uint32_t(IXON | IXOFF)) << "XON/XOFF kept";
    EXPECT_EQ(line.cflag & (CMSPAR | PARODD | CSTOPB), 0u) << "even parity, one stop bit";
    EXPECT_EQ(line.cflag & CBAUD, uint32_t(B19200));
    EXPECT_EQ(line.lflag, 0u) << "raw";
}

TEST_F(PortSettingsOverPty, ValuesWithoutTermiosFormAreRefused)
{
    const platform::OpenResult result = platform::openDeviceExclusive(pty.slavePath());
    ASSERT_EQ(result.failure, OpenFailure::None);
    const LineSettings refused[]
        = { { 19200, 0, 8, 1 }, { 19200, 5, 8, 0 }, { 19200, 0, 4, 0 }, { 19200, 0, 9, 0 }, { 0, 0, 8, 0 } };
    for (const LineSettings& settings : refused)
        EXPECT_FALSE(platform::applyLineSettings(result.handle, settings))
            << settings.baudRate << " " << int(settings.parity) << " " << int(settings.byteSize) << " "
            << int(settings.stopBits);
    EXPECT_TRUE(platform::applyLineSettings(result.handle, {})) << "the defaults are taken";
    platform::closePort(result.handle);
}

class PortWritingOverPty : public PortOverPty { };

TEST_F(PortWritingOverPty, EveryByteReachesTheFarEnd)
{
    const PortHandle port = openPort({ 115200, 0, 8, 0 });
    const std::string payload = bytesOf(3000, ' ');
    const size_t written = platform::writeAll(port, reinterpret_cast<const uint8_t*>(payload.data()), 3000);
    EXPECT_EQ(written, payload.size());
    EXPECT_EQ(pty.read(payload.size()), payload) << "bytes on the wire";
}

TEST_F(PortWritingOverPty, FarEndThatDoesNotDrainStopsTheWriteAtItsBound)
{
    constexpr uint32_t baud = 921600;
    const PortHandle port = openPort({ baud, 0, 8, 0 });
    const std::string payload = bytesOf(256 * 1024, '!');
    const auto bound = std::chrono::microseconds(uint64_t { payload.size() } * 10 * 1000000 / baud) + 1s;

    const auto start = Clock::now();
    const size_t written
        = platform::writeAll(port, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    const auto took = Clock::now() - start;

    EXPECT_LT(written, payload.size()) << "the pty cannot hold it all";
    EXPECT_GE(took, bound - 5ms) << "gave up before its time";
    EXPECT_LT(took, bound + 1s) << "blocked past its bound";
}

class VanishedPort : public PortOverPty { };

TEST_F(VanishedPort, CountsNothingWaitingReadsNothingAndWritesReturnAtOnce)
{
    const PortHandle port = openPort({ 9600, 0, 8, 0 });
    ASSERT_EQ(pty.write("lost"), 4u);
    ASSERT_TRUE(waitForWaiting(port, 4));
    pty.closeMaster();

    EXPECT_EQ(platform::bytesWaiting(port), 0);
    EXPECT_EQ(readFromPort(port, 128), "");
    const std::vector<uint8_t> payload(100000, 'z'); // about 104 s of line time at 9600 bit/s
    const auto start = Clock::now();
    platform::writeAll(port, payload.data(), payload.size());
    EXPECT_LT(Clock::now() - start, 500ms) << "a gone device is not waited for";
    platform::discardInput(port);
    EXPECT_EQ(platform::bytesWaiting(port), 0);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
