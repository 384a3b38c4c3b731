// --send TEXT: one exchange as "TX Start" makes it, with the test as the far end of the cable.
#include "support/PtyPair.h"
#include "test_headless_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sys/ioctl.h>

using namespace std::chrono_literals;
using headless_test::contains;

namespace {

class ExchangeOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveProgram())
            GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
        ASSERT_TRUE(pty.ok());
    }

    // Runs the exchange; the far end waits for the sent bytes, then answers with reply.
    ProgramRun exchange(const std::string& args, const std::string& expectedOnWire, const std::string& reply)
    {
        auto run = std::async(std::launch::async,
            [&] { return runProgram("--port COM1=" + pty.slavePath() + " --wait 1500 " + args); });
        onWire = pty.read(expectedOnWire.size(), 5s);
        if (onWire == expectedOnWire && !reply.empty())
            pty.write(reply);
        return run.get();
    }

    PtyPair pty;
    std::string onWire;
};

} // namespace

TEST_F(ExchangeOverPty, ReplyThatEqualsTheExpectedOneExitsZero)
{
    const ProgramRun run = exchange("--send hello --expect world", "hello", "world");
    EXPECT_EQ(onWire, "hello") << "bytes on the wire, no terminator";
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "sent 5 bytes, waited 1500 ms")) << run.out;
    EXPECT_TRUE(contains(run.out, "received 5 bytes\ntext: world\nhex: 77 6F 72 6C 64\nreply matches\n"))
        << run.out;
}

// Bytes a process has read so far, by any read call (its /proc io counter).
long bytesReadBy(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string name;
    long value = -1;
    while (io >> name >> value)
        if (name == "rchar:")
            return value;
    return -1;
}

// A hang-up ends the wait at once: the reply that came before it is shown, then what went wrong.
TEST_F(ExchangeOverPty, HangUpDuringTheWaitShowsTheReplyThenNamesItAndExitsThree)
{
    const struct {
        const char* name;
        bool unplug; // the far end and the node go (a USB adapter pulled); else a hang-up in place
        std::string cause;
    } cases[]
        = { { "unplugged", true, "port vanished\n" }, { "hung up", false, "carrier lost (hang-up)\n" } };
    for (const auto& hangUp : cases) {
        SCOPED_TRACE(hangUp.name);
        if (!hangUp.unplug && geteuid() != 0)
            continue; // a hang-up in place takes TIOCVHANGUP, which needs root
        PtyPair pair;
        headless_test::BackgroundProgram exchange(
            { "--port", "COM1=" + pair.slavePath(), "--wait", "20000", "--send", "hi", "--expect", "hi" });
        ASSERT_EQ(pair.read(2, 5s), "hi");
        const long readBefore = bytesReadBy(exchange.pid());
        ASSERT_EQ(pair.write("hi"), 2u);
        ASSERT_TRUE(PtyPair::waitUntil([&] { return bytesReadBy(exchange.pid()) >= readBefore + 2; }, 5s))
            << "the exchange takes the reply as it comes";
        const auto hungUpAt = std::chrono::steady_clock::now();
        if (hangUp.unplug)
            pair.closeMaster();
        else
            ASSERT_EQ(ioctl(pair.slaveFd(), TIOCVHANGUP), 0);
        const ProgramRun done = exchange.finish();
        EXPECT_LT(std::chrono::steady_clock::now() - hungUpAt, 10s) << "the hang-up ended the 20 s wait";
        EXPECT_EQ(done.status, 3) << done.out;
        EXPECT_TRUE(contains(done.out, "received 2 bytes\ntext: hi\n")) << done.out;
        EXPECT_TRUE(contains(done.out, "reply matches\n" + hangUp.cause)) << done.out;
    }
}

TEST_F(ExchangeOverPty, ReplyThatDiffersExitsOne)
{
    const ProgramRun run = exchange("--send hello --expect world", "hello", "wordl");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "text: wordl")) << run.out;
    EXPECT_TRUE(contains(run.out, "reply does not match: expected 5 bytes: 77 6F 72 6C 64")) << run.out;
}

TEST_F(ExchangeOverPty, WithoutExpectAnyReplyExitsZero)
{
    const ProgramRun run = exchange("--send ping", "ping", "");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "received 0 bytes\ntext: \nhex: \n")) << run.out;
}

TEST_F(ExchangeOverPty, HexTextAndReplyAreBytesWithControlCharactersEscaped)
{
    const ProgramRun run = exchange(
        "--hex --send '41 42 0d' --expect '4f 4b 0D 0a 00 07'", "AB\r", std::string("OK\r\n\0\x07", 6));
    EXPECT_EQ(onWire, "AB\r");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "received 6 bytes\ntext: OK\\r\\n\nhex: 4F 4B 0D 0A 00 07\n"))
        << "text stops at the zero byte as in the window, hex shows every byte: " << run.out;
}

TEST_F(ExchangeOverPty, ExactlyTheReceiveCapIsRead)
{
    const std::string reply(128, 'R');
    const ProgramRun run = exchange("--send x --expect " + reply, "x", reply);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "received 128 bytes")) << run.out;
}

TEST_F(ExchangeOverPty, OneByteMoreThanTheCapIsDiscardedAndCountsAsNothing)
{
    const ProgramRun run = exchange("--send x --expect " + std::string(129, 'R'), "x", std::string(129, 'R'));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "discarded 129 bytes")) << run.out;
    EXPECT_TRUE(contains(run.out, "received 0 bytes")) << run.out;
}

TEST_F(ExchangeOverPty, PortOfTheSettingsFileIsUsedWithoutCom)
{
    headless_test::TempFolder folder;
    const std::string file
        = headless_test::writeSettingsFile(folder.path() + "/line.txt", "COM2", 4800, 0, 8, 0);
    auto run = std::async(std::launch::async, [&] {
        return runProgram(
            "--port COM2=" + pty.slavePath() + " --settings " + file + " --wait 1500 --send abc");
    });
    EXPECT_EQ(pty.read(3, 5s), "abc");
    const ProgramRun done = run.get();
    EXPECT_EQ(done.status, 0) << done.out;
    EXPECT_TRUE(contains(done.out, "COM2 (" + pty.slavePath() + "): sent 3 bytes")) << done.out;
    platform::LineBits line;
    ASSERT_TRUE(pty.slaveLine(line));
    EXPECT_EQ(platform::outputSpeed(line), 4800u) << "the file's speed was set";
}

TEST_F(ExchangeOverPty, ComOptionWinsOverTheSettingsFilesPort)
{
    headless_test::TempFolder folder;
    const std::string file
        = headless_test::writeSettingsFile(folder.path() + "/line.txt", "COM2", 9600, 0, 8, 0);
    const ProgramRun run = runProgram(
        "--port COM7=" + pty.slavePath() + " --settings " + file + " --com COM7 --wait 0 --send q");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "COM7 (" + pty.slavePath() + "): sent 1 bytes")) << run.out;
}

TEST(SendWithoutPort, PortThatCannotBeOpenedOrConfiguredExitsThree)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    const ProgramRun missing = runProgram("--port COM1=/dev/no-such-tty --send x --expect x");
    EXPECT_EQ(missing.status, 3) << missing.out;
    EXPECT_TRUE(contains(missing.out, "/dev/no-such-tty")) << missing.out;
    headless_test::TempFolder folder;
    const std::string file
        = headless_test::writeSettingsFile(folder.path() + "/zero.txt", "COM1", 0, 0, 8, 0);
    const ProgramRun refused = runProgram("--loopback --settings " + file + " --send x");
    EXPECT_EQ(refused.status, 3) << refused.out;
    EXPECT_TRUE(contains(refused.out, "line settings were refused")) << refused.out;
}

TEST(SendWithoutPort, LoopbackEchoesWhatIsSent)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    const ProgramRun run = runProgram("--loopback --send 'hello there' --expect 'hello there'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "waited 500 ms")) << "the window's wait unless told: " << run.out;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
