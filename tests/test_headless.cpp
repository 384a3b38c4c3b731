// The commands without a window, run in this process as main() runs them, over ptys whose far end
// the test plays, the built-in loop-back and a fake /sys tree; and the real binary's exit statuses.
#include "headless/Commands.h"
#include "platform/discovery/LockFiles.h"
#include "platform/discovery/PortHolders.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/Loopback.h"
#include "serial/HexText.h"
#include "support/HolderProcess.h"
#include "support/ParseArguments.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A cell of a table with its names replaced, "¶" a line's end, "c{n}" n times c; "hex:" bytes.
std::string expand(std::string cell, std::map<std::string, std::string> names = {})
{
    names["¶"] = "\n";
    for (const auto& [name, value] : names)
        for (size_t at; (at = cell.find(name)) != std::string::npos;)
            cell.replace(at, name.size(), value);
    std::smatch m;
    while (std::regex_search(cell, m, std::regex("(.)\\{(\\d+)\\}")))
        cell.replace(m.position(), m.length(), std::string(std::stoul(m[2]), m.str(1)[0]));
    return cell.starts_with("hex:") ? parseHexBytes(cell.substr(4)).value_or("?") : cell;
}

struct Result {
    int status = -1;
    std::string out; // what the command printed, its reasons of failure included
};

// The words as main() runs them: the mappings in order (the loop-back's too), then the command;
// fresh forgets the mappings and held ports of the runs before (none may be running).
Result run(const std::string& words, bool fresh = true)
{
    const CommandLine line = parseLine(words);
    platform::Loopback loopback;
    auto& registry = platform::PortRegistry::instance();
    if (fresh)
        registry.reset();
    for (const auto& [number, mapped] : line.mappings)
        registry.mapComPort(number, mapped.empty() && loopback.start() ? loopback.devicePath() : mapped);
    std::ostringstream out;
    return { line.error.empty() ? headless::runCommand(line, out, out) : -2, out.str() };
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(Check, SaysWhetherThePortIsFreeAndWhyNot)
{
    // Each holder is made before the ptys that it must not have open: a fork keeps every descriptor.
    HolderProcess stranger("/dev/null"); // alive, so that a lock file naming it holds its port
    PtyPair flocked;
    HolderProcess flocker(flocked.slavePath());
    PtyPair exclusive;
    HolderProcess excluder(exclusive.slavePath(), nullptr, HolderProcess::Way::Exclusive);
    PtyPair free, locked, shared, denied;
    const std::string lock = "/run/lock/" + platform::lockFileName(locked.slavePath()),
                      dir = testing::TempDir() + std::to_string(getpid());
    std::ofstream(lock) << "      " << stranger.pid() << "\n";
    // Only tty's members may open denied; root's cat has shared open and names it in its arguments.
    ASSERT_EQ(chown(denied.slavePath().c_str(), 0, getgrnam("tty")->gr_gid)
            | chmod(denied.slavePath().c_str(), 0660) | chmod(shared.slavePath().c_str(), 0666),
        0);
    const pid_t cat = fork();
    if (cat == 0)
        _exit(execl("/bin/cat", "cat", shared.slavePath().c_str(), nullptr));
    ASSERT_TRUE(PtyPair::waitUntil([&] { return platform::findOpeners(shared.slavePath()).any(); }));
    writeSettingsFile(dir + "e72.cfg", "COM9", 9600, 2, 7, 2);
    writeSettingsFile(dir + "1.5.cfg", "COM1", 9600, 0, 8, 1);
    const std::map<std::string, std::pair<std::string, pid_t>> ports { { "free", { free.slavePath(), 0 } },
        { "shared", { shared.slavePath(), cat } }, { "flocked", { flocked.slavePath(), flocker.pid() } },
        { "exclusive", { exclusive.slavePath(), excluder.pid() } },
        { "locked", { locked.slavePath(), stranger.pid() } }, { "denied", { denied.slavePath(), 0 } },
        { "missing", { "/dev/no-such-tty", 0 } }, { "file", { "/etc/hostname", 0 } } };
    // port | user | more words | exit status | what it prints; "*" is the PID of the port's holder
    for (const auto& row : rowsOf(R"(
free | root |  | 0 | ): free¶
shared | root |  | 0 | ): free (also open by PID * (cat))¶
shared | nobody |  | 0 | ): free (also open by a process that cannot be seen from here)¶
flocked | root |  | 1 | ): busy: held by PID * (test_headless), flock¶
exclusive | root |  | 1 | ): busy: held by PID * (test_headless), exclusive open¶
locked | root |  | 1 | ): busy: held by PID * (test_headless), lock file¶
missing | root |  | 1 | ): missing: no device /dev/no-such-tty¶
file | root |  | 1 | ): not a tty: /etc/hostname is no terminal device¶
denied | nobody |  | 1 | ): permission denied: members of the group tty may open it¶
free | root | --settings %e72.cfg | 0 | ¶asked:      9600 baud, 7 data bits, parity Even, stop bits 2¶driver has: 9600 baud, 8 data bits, parity None, stop bits 2 (a pseudo-terminal always has 8 data bits and parity None)¶settings taken¶
free | root | --settings %1.5.cfg | 1 | ¶asked:      9600 baud, 8 data bits, parity None, stop bits 1.5¶driver has: 
free | root | --settings %none | 2 | comtest: --settings %none: cannot be read (missing, not a regular file, or no permission)¶Usage: 
free | root | --settings /etc/hostname | 2 | comtest: --settings /etc/hostname: not a comtest settings file¶)")) {
        const auto& [device, holder] = ports.at(row[0]);
        const std::map<std::string, std::string> names { { "*", std::to_string(holder) }, { "%", dir } };
        const auto check
            = [&] { return run("--port COM1=" + device + " --check COM1 " + expand(row[2], names)); };
        const auto expected = [&](const Result& r) {
            return r.status == std::stoi(row[3]) && has(r.out, expand(row[4], names));
        };
        if (row[1] == "nobody") {
            HolderProcess nobody([&] {
                const Result r
                    = setgroups(0, nullptr) || setgid(65534) || setuid(65534) ? Result {} : check();
                return expected(r) || fprintf(stderr, "%d %s", r.status, r.out.c_str()) < 0;
            });
            EXPECT_TRUE(nobody.holding()) << row[4];
        } else {
            const Result r = check();
            EXPECT_TRUE(expected(r)) << r.status << " " << r.out << "\nexpected " << row[3] << " " << row[4];
        }
    }
    kill(cat, SIGKILL);
    waitpid(cat, nullptr, 0);
    std::remove(lock.c_str());
}

long charsRead(pid_t thread) // the first of the thread's I/O counters
{
    std::ifstream io("/proc/self/task/" + std::to_string(thread) + "/io");
    std::string name;
    long count = -1;
    io >> name >> count;
    return count;
}

TEST(Send, ShowsTheReplyAndComparesIt)
{
    const std::string dir = testing::TempDir() + std::to_string(getpid());
    writeSettingsFile(dir + "4800.cfg", "COM2", 4800, 0, 8, 0);
    writeSettingsFile(dir + "0.cfg", "COM1", 0, 0, 8, 0);
    // words | bytes on the wire | the reply | exit status | what it prints ("$" is the pty)
    for (const auto& row : rowsOf(R"(
--send hello --expect world | hello | world | 0 | : sent 5 bytes, waited 500 ms¶received 5 bytes¶text: world¶hex: 77 6F 72 6C 64¶reply matches¶
--send hello --expect world | hello | wordl | 1 | ¶text: wordl¶hex: 77 6F 72 64 6C¶reply does not match: expected 5 bytes: 77 6F 72 6C 64¶
--send ping | ping |  | 0 | ¶received 0 bytes¶text: ¶hex: ¶
--hex --send 41420d --expect 4f4b0d0a095c017f0007 | hex:41420d | hex:4f4b0d0a095c017f0007 | 0 | ¶text: OK\r\n\t\\\x01\x7F¶hex: 4F 4B 0D 0A 09 5C 01 7F 00 07¶reply matches¶
--send x --expect R{128} | x | R{128} | 0 | ¶received 128 bytes¶
--send x --expect R{129} | x | R{129} | 1 | ¶discarded 129 bytes (more than 128 were waiting)¶received 0 bytes¶text: ¶
--send hi --expect hi --wait 20000 | hi | hi | 3 | ¶received 2 bytes¶text: hi¶hex: 68 69¶reply matches¶carrier lost (hang-up)¶
--send hi --wait 20000 | hi | hi | 3 | ¶received 2 bytes¶text: hi¶hex: 68 69¶port vanished¶
--settings %4800.cfg --send abc | abc |  | 0 | COM2 ($): sent 3 bytes
--settings %4800.cfg --com COM7 --send q --wait 0 | q |  | 0 | COM7 ($): sent 1 bytes, waited 0 ms¶
--loopback --send hello --expect hello |  |  | 0 | reply matches¶
--port COM1=/dev/no-such-tty --send x |  |  | 3 | comtest: 開啟通訊埠錯誤!! COM1 (/dev/no-such-tty): missing: no device /dev/no-such-tty¶
--loopback --settings %0.cfg --send x |  |  | 3 | the line settings were refused (0 baud, 8 data bits)")) {
        PtyPair pty;
        const std::map<std::string, std::string> names { { "$", pty.slavePath() }, { "%", dir } };
        std::atomic<pid_t> thread = 0;
        auto done = std::async(std::launch::async, [&] {
            thread = gettid();
            return run(expand("--port COM1=$ --port COM2=$ --port COM7=$ " + row[0], names));
        });
        EXPECT_EQ(pty.read(expand(row[1]).size(), 5s), expand(row[1])) << row[0];
        const long before = charsRead(thread);
        pty.write(expand(row[2]));
        if (has(row[0], "20000")) { // once the reply is in, the port goes away
            EXPECT_TRUE(PtyPair::waitUntil([&] { return charsRead(thread) >= before + 2; }));
            EXPECT_TRUE(has(run("--port COM1=" + pty.slavePath() + " --check COM1", false).out,
                "busy: held by a process that cannot be seen from here"));
            if (has(row[4], "vanished"))
                pty.closeMaster();
            else
                EXPECT_EQ(ioctl(pty.slaveFd(), TIOCVHANGUP), 0);
        }
        const Result r = done.get();
        EXPECT_EQ(r.status, std::stoi(row[3])) << r.out;
        EXPECT_TRUE(has(r.out, expand(row[4], names))) << r.out;
    }
}

std::string verdicts(const std::string& out) // the self-test's rows, one letter each: P or F
{
    std::string letters;
    const std::regex verdict("  (P|F)(ASS|AIL)");
    for (std::sregex_iterator it(out.begin(), out.end(), verdict), end; it != end; ++it)
        letters += (*it)[1].str();
    return letters;
}

TEST(SelfTest, PassesEveryRowOverTheLoopbackAndFailsExactlyTheRowThatCameBackWrong)
{
    const Result loop = run("--loopback --selftest");
    EXPECT_EQ(loop.status, 0);
    EXPECT_EQ(verdicts(loop.out), std::string(400, 'P'));
    EXPECT_TRUE(
        has(loop.out, "DTR->DCD  not available (the driver has no modem lines)\n400 of 400 rows passed\n"));
    PtyPair pty;
    std::atomic<bool> stop = false;
    std::thread echo([&] { // a plug's far end that flips a bit of the 138th pattern's fourth byte
        for (size_t seen = 0; !stop;) {
            std::string bytes = pty.read(1, 20ms);
            for (char& c : bytes)
                c ^= seen++ == 137 * 8 + 3 ? 1 : 0;
            pty.write(bytes);
        }
    });
    const Result corrupted = run("--port COM4=" + pty.slavePath() + " --selftest --com COM4");
    stop = true;
    echo.join();
    EXPECT_EQ(corrupted.status, 1);
    EXPECT_EQ(verdicts(corrupted.out), std::string(137, 'P') + "F" + std::string(262, 'P'));
    EXPECT_TRUE(has(corrupted.out, "FAIL  sent 15 0A 00 1F 0F 10 1A 05, got 15 0A 00 1E 0F 10 1A 05\n"))
        << corrupted.out;
    EXPECT_TRUE(has(corrupted.out, "\n399 of 400 rows passed\n"));
}

TEST(SelfTest, EndsAtTheFirstRowThatFindsThePortGone)
{
    PtyPair pty;
    auto done = std::async(
        std::launch::async, [&] { return run("--port COM1=" + pty.slavePath() + " --selftest"); });
    ASSERT_NE(pty.read(1, 5s), "");
    pty.closeMaster();
    const Result r = done.get();
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(verdicts(r.out), "F");
    EXPECT_TRUE(has(r.out, "  FAIL  nothing came back\nport vanished\n")) << r.out;
}

TEST(ListPorts, NamesTheComNameTheHolderAndTheOtherOpeners)
{
    PtyPair pty;
    const std::string device = pty.slavePath();
    const Result text = run("--port COM6=" + device + " --list-ports");
    EXPECT_TRUE(std::regex_search(text.out, std::regex("\n" + device + " +COM6 +pty +- +- +no +- +-\n")))
        << text.out;
    HolderProcess holder(device);
    const Result json = run("--port COM3=/dev/null --port COM3=" + device + " --list-ports --json");
    const std::string pid = std::to_string(holder.pid());
    EXPECT_TRUE(has(json.out,
        "{\"device\": \"" + device
            + "\", \"com\": \"COM3\", \"driver\": \"pty\", \"usb_id\": null, \"serial\": null, \"by_id\": "
              "null, \"held\": true, \"holder\": "
            + pid + ", \"open_by\": [" + pid + "], \"terminal\": null, \"no_uart\": false}"))
        << json.out;
    EXPECT_EQ(text.status | json.status, 0);
}

TEST(ListPorts, FindsUartsAndAdaptersInAFakeTreeInNaturalOrder)
{
    const std::string root = testing::TempDir() + "inventory-" + std::to_string(getpid());
    // path=text makes a file; path=/folder a link to the folder, made too. tty1 has no device link,
    // ttyS1 no UART, and ttyS2 sits behind the serial core's own port device.
    std::istringstream tree(R"(sys/class/tty/tty1/dev=4:1 sys/class/tty/ttyS1/type=0
sys/class/tty/ttyS1/device=/sys/devices/isa sys/class/tty/ttyS10/device=/sys/devices/isa
sys/class/tty/ttyS10/type=4 sys/devices/isa/driver=/bus/serial8250 sys/class/tty/ttyS2/type=4
sys/class/tty/ttyS2/device=/sys/devices/pnp/port sys/devices/pnp/port/driver=/bus/serial-base/port
sys/devices/pnp/driver=/bus/serial sys/devices/usb/idVendor=0403 sys/devices/usb/idProduct=6001
sys/devices/usb/serial=A10K sys/class/tty/ttyUSB0/device=/sys/devices/usb/1.0/ttyUSB0
sys/devices/usb/1.0/ttyUSB0/driver=/bus/ftdi_sio dev/ttyUSB0=node dev/serial/by-id/usb-A10K=/dev/ttyUSB0)");
    for (std::string entry; tree >> entry;) {
        const size_t cut = entry.find('=');
        const fs::path path = root + "/" + entry.substr(0, cut), target = root + entry.substr(cut + 1);
        fs::create_directories(path.parent_path());
        if (entry[cut + 1] != '/')
            std::ofstream(path) << entry.substr(cut + 1) << "\n";
        else if (fs::exists(target) || fs::create_directories(target))
            fs::create_symlink(target, path);
    }
    std::string found;
    for (const auto& d : platform::serialDevices({ root + "/sys", root + "/dev" }))
        found += expand(d.device + " " + d.driver + " " + d.usbId + " " + d.serial + " " + d.byId + "; ",
            { { root, "" } });
    EXPECT_EQ(found,
        "/dev/ttyS2 serial   ; /dev/ttyS10 serial8250   ; /dev/ttyUSB0 ftdi_sio 0403:6001 A10K "
        "/dev/serial/by-id/usb-A10K; ");
    fs::remove_all(root);
}

TEST(Program, AnswersWithItsExitStatusWithoutADisplay)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    for (const auto& row : rowsOf(R"(
--help | 0 | Usage: comtest
--version | 0 | comtest 
--loopback --send hi --expect hi | 0 | COM1 (/dev/pts/
--loopback --send hi --expect ho | 1 | COM1 (/dev/pts/
--bogus | 2 | comtest: unknown option: --bogus¶Usage: comtest
--port COM1=/dev/null --selftest | 3 | comtest: )")) {
        const ProgramRun run = runProgram(row[0]);
        EXPECT_EQ(run.status, std::stoi(row[1])) << row[0] << "\n" << run.out;
        EXPECT_EQ(run.out.rfind(expand(row[2]), 0), 0u) << row[0] << "\n" << run.out;
    }
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
