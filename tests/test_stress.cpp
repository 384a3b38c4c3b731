// The stress run: the pattern's rules, and whole runs over ptys with far ends that echo, drop or
// corrupt bytes, through one port and between two joined ports.
#include "headless/StressPattern.h"
#include "platform/discovery/LockFiles.h"
#include "support/ParseArguments.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr size_t kStream = 2000;

// The pattern after an edit "KIND AT+COUNT": drop, flip (corrupt), dup (each byte twice) or noise
// (COUNT bytes inserted before AT).
std::string edited(const headless::StressPattern& pattern, const std::string& edit)
{
    std::string bytes;
    for (size_t i = 0; i < kStream; ++i)
        bytes += char(pattern.at(i));
    std::istringstream in(edit);
    std::string kind;
    size_t at = 0;
    size_t count = 1;
    char plus = 0;
    in >> kind >> at >> plus >> count;
    if (kind == "drop")
        bytes.erase(at, count);
    if (kind == "flip")
        for (size_t i = at; i < at + count; ++i)
            bytes[i] = char(bytes[i] ^ 0x40);
    if (kind == "dup")
        bytes.insert(at + 1, bytes.substr(at, count));
    if (kind == "noise")
        bytes.insert(at, std::string(count, '\x13'));
    return bytes;
}

// A far end that echoes, with one fault at the byte numbered at (mute: nothing after it).
void farEnd(PtyPair& pty, const std::string& fault, size_t at, std::stop_token stop)
{
    for (size_t seen = 0; !stop.stop_requested();) {
        std::string back;
        for (const char c : pty.read(1, 20ms)) {
            const bool here = seen++ == at;
            if (!(here && fault == "drop") && !(fault == "mute" && seen > at))
                back += char(here && fault == "flip" ? c ^ 1 : c);
        }
        pty.write(back);
    }
}

} // namespace

TEST(StressPattern, TellsLostCorruptedAndExtraBytesApartAndFindsTheStreamAgain)
{
    const headless::StressPattern pattern(8);
    // edit | verified lost corrupted extra | first error
    for (const auto& row : rowsOf(R"(
none | 2000 0 0 0 | -
drop 500 | 1999 1 0 0 | 500
drop 500+300 | 1700 300 0 0 | 500
drop 1999 | 1999 1 0 0 | 1999
flip 0 | 1999 0 1 0 | 0
flip 500+3 | 1997 0 3 0 | 500
flip 1999 | 1999 0 1 0 | 1999
dup 500 | 2000 0 0 1 | 501
dup 500+20 | 2000 0 0 20 | 501
noise 500+5 | 2000 0 0 5 | 500)")) {
        headless::StreamChecker checker(pattern);
        const std::string bytes = edited(pattern, row[0]);
        for (size_t at = 0; at < bytes.size(); at += 7) // in small pieces, as reads come
            checker.take(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                std::min<size_t>(7, bytes.size() - at), kStream);
        checker.finish(kStream);
        const auto& c = checker.counts();
        std::ostringstream found;
        found << c.verified << " " << c.lost << " " << c.corrupted << " " << c.extra;
        EXPECT_EQ(found.str(), row[1]) << "verified, lost, corrupted, extra after " << row[0];
        EXPECT_EQ(c.firstError ? std::to_string(*c.firstError) : "-", row[2])
            << "first error after " << row[0];
    }
    for (const uint8_t size : { 5, 6, 7, 8 }) // XON and XOFF are never sent
        EXPECT_EQ(edited(headless::StressPattern(size), "").find_first_of("\x11\x13"), std::string::npos)
            << +size;
}

TEST(Stress, AFarEndThatDropsOrCorruptsFailsTheRunWithItsCount)
{
    // fault | exit | the report's line for the one direction
    for (const auto& row : rowsOf(R"(
none | 0 | COM1 -> COM1: sent 30000, received 30000, verified 30000, lost 0, corrupted 0, extra 0, first error at -
drop | 1 | COM1 -> COM1: sent 30000, received 29999, verified 29999, lost 1, corrupted 0, extra 0, first error at 10000
flip | 1 | COM1 -> COM1: sent 30000, received 30000, verified 29999, lost 0, corrupted 1, extra 0, first error at 10000)")) {
        PtyPair pty;
        std::jthread echo([&](std::stop_token stop) { farEnd(pty, row[0], 10000, stop); });
        const auto [status, out] = runWords("--port COM1=" + pty.slavePath() + " --stress --bytes 30000");
        EXPECT_EQ(status, std::stoi(row[1])) << row[0] << "\n" << out;
        EXPECT_NE(out.find(row[2]), std::string::npos) << row[0] << "\n" << out;
    }
}

TEST(Stress, TwoJoinedPortsCarryBothDirectionsAtOnce)
{
    PtyPair a;
    PtyPair b;
    std::jthread cable([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            b.write(a.readAvailable());
            a.write(b.read(1, 5ms));
        }
    });
    const auto [status, out] = runWords("--port COM1=" + a.slavePath() + " --port COM2=" + b.slavePath()
        + " --stress --to COM2 --bytes 20000 --json");
    EXPECT_EQ(status, 0) << out;
    const auto report = nlohmann::json::parse(out.substr(0, out.find('\n')));
    for (const int direction : { 0, 1 })
        EXPECT_EQ(report["directions"][direction]["verified"], 20000) << "each way\n" << out;
    EXPECT_EQ(report["counters"][1]["offered"], false) << "a pty has no error counters";
}

// Ctrl+C ends the run with its report, a vanished far end with the counts so far, and one that stops
// answering once nothing came back for a while: each a whole JSON document, nothing of ours left.
TEST(Stress, AnInterruptedOrVanishedRunStillReportsWhatItCounted)
{
    for (const auto& row : rowsOf(
             "SIGINT | 0 | interrupted (SIGINT)\nunplug | 3 | port vanished\nmute | 1 | nothing came back")) {
        PtyPair pty;
        std::jthread echo([&](std::stop_token stop) { farEnd(pty, row[0], 10, stop); });
        auto done = std::async(std::launch::async, runProgram,
            "--port COM1=" + pty.slavePath() + " --stress --seconds 60 --json");
        const bool held
            = PtyPair::waitUntil([&] { return platform::liveLockHolder(pty.slavePath()).has_value(); }, 15s);
        ASSERT_EQ(held, true) << row[0] << ": the run took the port";
        if (row[0] == "SIGINT")
            kill(platform::liveLockHolder(pty.slavePath()).value_or(INT_MAX), SIGINT);
        if (row[0] == "unplug")
            pty.closeMaster(); // the far end's reads and writes then fail at once
        const auto [status, out] = done.get();
        EXPECT_EQ(status, std::stoi(row[1])) << row[0] << "\n" << out;
        const std::string json = out.substr(out.rfind("\n{") + 1); // the JSON line, whatever stderr adds
        const auto report = nlohmann::json::parse(json.substr(0, json.find('\n')), nullptr, false);
        EXPECT_EQ(report.is_discarded() ? out : report.value("ended", ""), row[2]) << out;
        // A hung-up slave answers no question about its locks.
        EXPECT_EQ(row[0] == "unplug" ? "" : pty.locksLeft(), "") << "left on the port after " << row[0];
    }
}
