// --selftest: every line setting of the settings dialog once, over the built-in loop-back and over
// a pty whose far end corrupts one exchange.
#include "headless/SelftestCommand.h"
#include "platform/discovery/PortHolders.h"
#include "serial/SettingsTables.h"
#include "support/PtyPair.h"
#include "test_headless_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <poll.h>
#include <thread>

using namespace std::chrono_literals;
using headless_test::contains;

namespace {

// The lines of the table's rows: those that start with a baud rate.
std::vector<std::string> rowLines(const std::string& out)
{
    std::vector<std::string> rows;
    for (const auto& line : headless_test::lines(out)) {
        const size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && std::isdigit(static_cast<unsigned char>(line[first]))
            && (contains(line, " PASS") || contains(line, " FAIL")))
            rows.push_back(line);
    }
    return rows;
}

// The far end of a loop-back plug that flips the low bit of one byte in the corruptExchange-th
// pattern it sees (counted from 0); exchanges are counted by the pattern's length.
class CorruptingEcho {
public:
    CorruptingEcho(int master, size_t patternLength, size_t corruptExchange)
        : thread_([=, this] { run(master, patternLength, corruptExchange); })
    {
    }
    ~CorruptingEcho()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void run(int master, size_t patternLength, size_t corruptExchange)
    {
        size_t seen = 0;
        while (!stop_) {
            pollfd entry { master, POLLIN, 0 };
            if (poll(&entry, 1, 50) <= 0 || !(entry.revents & POLLIN))
                continue;
            uint8_t bytes[256];
            const ssize_t got = read(master, bytes, sizeof bytes);
            for (ssize_t i = 0; i < got; ++i, ++seen)
                if (seen / patternLength == corruptExchange && seen % patternLength == 3)
                    bytes[i] ^= 0x01;
            for (ssize_t done = 0; got > 0 && done < got;) {
                const ssize_t put = write(master, bytes + done, static_cast<size_t>(got - done));
                if (put > 0)
                    done += put;
                else if (errno != EAGAIN && errno != EINTR)
                    return;
            }
        }
    }

    std::atomic<bool> stop_ { false };
    std::thread thread_;
};

} // namespace

TEST(SelfTestSettings, AreTheSettingsDialogsFourHundredCombinations)
{
    const auto all = headless::selfTestSettings();
    ASSERT_EQ(all.size(), 400u);
    for (const auto& settings : all) {
        EXPECT_TRUE(settings_tables::baudText(settings.baudRate).has_value()) << settings.baudRate;
        EXPECT_TRUE(settings_tables::parityText(settings.parity).has_value());
        EXPECT_TRUE(settings_tables::dataBitsText(settings.byteSize).has_value());
        EXPECT_TRUE(settings_tables::stopBitsText(settings.stopBits).has_value());
    }
    EXPECT_EQ(all.front().baudRate, 110u);
    EXPECT_EQ(all.back().baudRate, 115200u);
    for (const uint8_t size : { 5, 6, 7, 8 })
        for (const char c : headless::selfTestPattern(size)) {
            EXPECT_EQ(static_cast<uint8_t>(c) >> size, 0) << "masked to " << int(size) << " data bits";
            EXPECT_NE(c, 0x11) << "no XON";
            EXPECT_NE(c, 0x13) << "no XOFF";
        }
}

TEST(SelfTestOverLoopback, EveryRowPassesQuicklyAndModemLinesAreNotAvailable)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = runProgram("--loopback --selftest");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 0) << run.out;
    const auto rows = rowLines(run.out);
    ASSERT_EQ(rows.size(), 400u) << run.out;
    for (const auto& row : rows)
        EXPECT_TRUE(contains(row, "PASS")) << row;
    EXPECT_TRUE(contains(run.out, "RTS->CTS  not available")) << run.out;
    EXPECT_TRUE(contains(run.out, "DTR->DSR  not available")) << run.out;
    EXPECT_TRUE(contains(run.out, "DTR->DCD  not available")) << run.out;
    EXPECT_TRUE(contains(run.out, "400 of 400 rows passed\n")) << run.out;
    EXPECT_LT(took, 60s) << "rows wait for their pattern, not for a fixed tick";
}

TEST(SelfTestOverPty, CorruptedExchangeFailsExactlyItsRow)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    constexpr size_t kCorrupted = 137;
    ProgramRun run;
    {
        CorruptingEcho echo(pty.masterFd(), headless::selfTestPattern(8).size(), kCorrupted);
        run = runProgram("--port COM4=" + pty.slavePath() + " --selftest --com COM4");
    }
    EXPECT_EQ(run.status, 1) << run.out;
    const auto rows = rowLines(run.out);
    ASSERT_EQ(rows.size(), 400u) << run.out;
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(contains(rows[i], "FAIL"), i == kCorrupted) << "row " << i << ": " << rows[i];
    const auto settings = headless::selfTestSettings()[kCorrupted];
    EXPECT_EQ(
        rows[kCorrupted].rfind(std::string(6 - std::to_string(settings.baudRate).size(), ' ')
                + std::to_string(settings.baudRate) + "  " + *settings_tables::parityText(settings.parity),
            0),
        0u)
        << rows[kCorrupted];
    EXPECT_TRUE(contains(rows[kCorrupted], "sent "))
        << "the failed row tells what came back: " << rows[kCorrupted];
    EXPECT_TRUE(contains(run.out, "399 of 400 rows passed")) << run.out;
    EXPECT_FALSE(contains(run.out, "RTS->CTS  FAIL")) << "a pty has no modem lines to fail";
}

TEST(SelfTestOverPty, PortThatVanishesEndsTheRunAtTheFirstRowThatFindsItGone)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    headless_test::BackgroundProgram selfTest(
        { "--port", "COM4=" + pty.slavePath(), "--selftest", "--com", "COM4" });
    ASSERT_TRUE(PtyPair::waitUntil([&] { return platform::findHolders(pty.slavePath()).held(); }, 5s));
    pty.closeMaster(); // the cable's far end is gone with its node
    const ProgramRun run = selfTest.finish();
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_EQ(rowLines(run.out).size(), 1u) << run.out;
    EXPECT_TRUE(contains(run.out, "\nport vanished\n")) << run.out;
}

TEST(SelfTestWithoutPort, PortThatCannotBeOpenedExitsThree)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    const ProgramRun run = runProgram("--port COM2=/dev/no-such-tty --selftest --com COM2");
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_TRUE(rowLines(run.out).empty()) << run.out;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
