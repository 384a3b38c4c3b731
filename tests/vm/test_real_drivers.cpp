// Checks that run inside the QEMU guest of run-bench.sh: the real comtest binary (COMTEST_BINARY)
// and the real window in this process on the real 8250 driver (ttyS1 with an echoing far end, ttyS2
// with a swallowing one, ttyS3 without a UART, ttyS0 the guest's console) and the real ftdi_sio
// driver (ttyUSB0, echoing). Every child runs under a deadline; nothing here measures time beyond
// telling a wait cut short from one that ran out, since TCG's timing is not a machine's.
#include "test_fault_fixture.h"
#include "test_headless_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);
constexpr uid_t kNobody = 65534; // the second user: nobody, group nogroup
const std::string kById = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_VMFTDI01-if00-port0";

bool insideGuest()
{
    std::ifstream in("/proc/cmdline");
    for (std::string word; in >> word;)
        if (word == "comtest_vm=1")
            return true;
    return false;
}

bool waitFor(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!condition())
        if (std::chrono::steady_clock::now() > end || poll(nullptr, 0, 20) < 0)
            return false;
    return true;
}

struct Outcome {
    int status = -1; // exit status; -1 when stopped at the deadline or killed by a signal
    int signal = 0; // the signal that ended it
    bool hung = false;
    std::string out; // stdout and stderr together
};

// Runs comtest with ARGS, as root or as nobody, optionally in a process group of its own: a
// background group of our session, whose controlling terminal is the console. MEANWHILE, if
// given, is called at the start and whenever output came, with the PID and the output so far.
Outcome comtest(std::vector<std::string> args, bool asNobody = false, bool background = false,
    const std::function<void(pid_t, const std::string&)>& meanwhile = {})
{
    args.insert(args.begin(), std::getenv("COMTEST_BINARY"));
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        if (background)
            setpgid(0, 0);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(126);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Outcome outcome;
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    for (char buffer[4096];;) {
        if (meanwhile)
            meanwhile(pid, outcome.out);
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd ready { out[0], POLLIN, 0 };
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) == 0) {
            outcome.hung = true;
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        outcome.out.append(buffer, size_t(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!outcome.hung && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The line of TEXT that contains KEY, or "".
std::string lineWith(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (contains(line, key))
            return line;
    return {};
}

int openPort(const char* device)
{
    return open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int bytesWaiting(int fd)
{
    int n = -1;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Sets a self-test row's settings on FD and tells whether termios reads back what was asked.
bool driverKeeps(int fd, int baud, const std::string& parity, int data, int stop)
{
    static const std::map<int, speed_t> speeds { { 110, B110 }, { 300, B300 }, { 1200, B1200 },
        { 2400, B2400 }, { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 },
        { 57600, B57600 }, { 115200, B115200 } };
    static const std::map<std::string, tcflag_t> parities { { "None", 0 }, { "Odd", PARENB | PARODD },
        { "Even", PARENB }, { "Mark", PARENB | PARODD | CMSPAR }, { "Space", PARENB | CMSPAR } };
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    termios asked {}, back {};
    tcgetattr(fd, &asked);
    cfmakeraw(&asked);
    asked.c_cflag = (asked.c_cflag & ~mask) | CLOCAL | CREAD | parities.at(parity)
        | (data == 5        ? CS5
                : data == 6 ? CS6
                : data == 7 ? CS7
                            : CS8)
        | (stop == 2 ? CSTOPB : 0);
    cfsetspeed(&asked, speeds.at(baud));
    tcsetattr(fd, TCSANOW, &asked);
    tcgetattr(fd, &back);
    return (back.c_cflag & mask) == (asked.c_cflag & mask) && cfgetospeed(&back) == cfgetospeed(&asked);
}

// What ftdi_sio keeps in termios but its chip does not do: it sends 8 data bits, and its 14-bit
// divisor wraps below 183 baud.
const std::string kFtdiCs5 = "ftdi_sio sends 8 data bits when 5 are asked";
const std::string kFtdi110 = "ftdi_sio runs 276 baud for 110 (150.5 % off)";

// The self-test's rows in OUT.
std::vector<std::string> rowsIn(const std::string& out)
{
    static const std::regex row(R"(^\s*\d+\s+(None|Odd|Even|Mark|Space)\s+[5-8]\s+[12]\s+(PASS|FAIL).*$)");
    std::vector<std::string> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, row))
            rows.push_back(line);
    return rows;
}

TEST(RealDrivers, SelftestRowsMatchWhatTheDriverKeeps)
{
    for (const std::string device : { "/dev/ttyS1", "/dev/ttyUSB0" }) {
        SCOPED_TRACE(device);
        const bool ftdi = device == "/dev/ttyUSB0";
        const Outcome run = comtest({ "--port", "COM2=" + device, "--selftest", "--com", "COM2" });
        ASSERT_FALSE(run.hung) << run.out;
        EXPECT_TRUE(run.status == 0 || run.status == 1) << run.out; // 1: the modem loops lack a plug
        const int fd = openPort(device.c_str());
        ASSERT_GE(fd, 0);
        std::map<std::string, int> passedByValue; // e.g. "data 6" -> rows with it that passed
        int passed = 0;
        const auto rows = rowsIn(run.out);
        for (const std::string& line : rows) {
            std::istringstream fields(line);
            int baud = 0, data = 0, stop = 0;
            std::string parity, result, reason;
            std::getline(fields >> baud >> parity >> data >> stop >> result >> std::ws, reason);
            const bool pass = result == "PASS", keeps = driverKeeps(fd, baud, parity, data, stop);
            EXPECT_EQ(pass, keeps && !(ftdi && (data == 5 || baud < 183))) << line;
            EXPECT_EQ(reason,
                pass            ? ""
                    : !keeps    ? "the driver refused the settings"
                    : data == 5 ? kFtdiCs5
                                : kFtdi110)
                << line;
            passed += pass;
            for (const auto& value : { "baud " + std::to_string(baud), "parity " + parity,
                     "data " + std::to_string(data), "stop " + std::to_string(stop) })
                passedByValue[value] += pass;
        }
        close(fd);
        EXPECT_EQ(rows.size(), 400u) << run.out;
        EXPECT_TRUE(ftdi || passed == 400) << "every dialog rate is within 2 % of a divisor of 115200\n"
                                           << run.out;
        std::cout << device << ": " << passed << " of " << rows.size() << " rows PASS; never PASS:";
        for (const auto& [value, n] : passedByValue)
            std::cout << (n == 0 ? " " + value : "");
        std::cout << "\n";
    }
}

TEST(RealDrivers, ListPortsNamesDriversAndTheAdapter)
{
    const Outcome text = comtest({ "--list-ports" }), json = comtest({ "--list-ports", "--json" });
    ASSERT_EQ(text.status, 0) << text.out;
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_TRUE(contains(lineWith(text.out, "/dev/ttyS1 "), " serial ")) << text.out;
    for (const std::string& part : std::vector<std::string> { "ftdi_sio", "0403:6001", "VMFTDI01", kById })
        EXPECT_TRUE(contains(lineWith(text.out, "/dev/ttyUSB0 "), part)) << part << " missing in\n"
                                                                         << text.out;
    EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyS1\""), "\"driver\": \"serial\"")) << json.out;
    for (const std::string& part : std::vector<std::string> { "\"driver\": \"ftdi_sio\"",
             "\"usb_id\": \"0403:6001\"", "\"serial\": \"VMFTDI01\"", "\"by_id\": \"" + kById + "\"" })
        EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyUSB0\""), part)) << part << " missing in\n"
                                                                            << json.out;
    EXPECT_FALSE(contains(text.out + json.out, "/dev/ttyS3")) << "ttyS3 has no UART\n"
                                                              << text.out << json.out;
}

TEST(RealDrivers, ACheckLeavesAHoldersLockAlone)
{
    ASSERT_EQ(chmod("/dev/ttyS1", 0666), 0); // so that nobody may open it at all
    for (const bool withFlock : { true, false }) {
        SCOPED_TRACE(withFlock ? "holder with flock only" : "holder with TIOCEXCL only");
        const int holder = openPort("/dev/ttyS1");
        ASSERT_GE(holder, 0);
        ASSERT_EQ(withFlock ? flock(holder, LOCK_EX | LOCK_NB) : ioctl(holder, TIOCEXCL), 0);
        for (const bool asNobody : { false, true }) {
            SCOPED_TRACE(asNobody ? "checked by nobody" : "checked by root");
            const Outcome run = comtest({ "--port", "COM2=/dev/ttyS1", "--check", "COM2" }, asNobody);
            EXPECT_EQ(run.status, 1) << run.out;
            EXPECT_TRUE(contains(run.out, "COM2 (/dev/ttyS1): busy")) << run.out;
            if (withFlock) {
                const int other = openPort("/dev/ttyS1");
                EXPECT_TRUE(other >= 0 && flock(other, LOCK_EX | LOCK_NB) != 0)
                    << "the holder's flock is gone";
                close(other);
            } else {
                int exclusive = -1;
                EXPECT_TRUE(ioctl(holder, TIOCGEXCL, &exclusive) == 0 && exclusive == 1)
                    << "the holder's TIOCEXCL was cleared";
            }
        }
        close(holder);
    }
}

TEST(RealDrivers, ACheckLeavesASharersBytesAlone)
{
    const int fd = openPort("/dev/ttyS1");
    ASSERT_GE(fd, 0);
    termios raw {};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw); // no local echo, or the far end's echo would go round for ever
    ASSERT_EQ(tcsetattr(fd, TCSAFLUSH, &raw), 0);
    ASSERT_EQ(write(fd, "SHARED", 6), 6);
    ASSERT_TRUE(waitFor([&] { return bytesWaiting(fd) >= 6; })) << "the far end's echo never came";
    ASSERT_EQ(bytesWaiting(fd), 6);

    const Outcome run = comtest({ "--port", "COM2=/dev/ttyS1", "--check", "COM2" });
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out,
        "COM2 (/dev/ttyS1): free (also open by PID " + std::to_string(getpid()) + " (" + comm + "))\n"))
        << run.out;
    EXPECT_EQ(bytesWaiting(fd), 6) << "the check took the sharer's bytes";
    char bytes[16] = {};
    EXPECT_EQ(read(fd, bytes, sizeof bytes), 6);
    EXPECT_STREQ(bytes, "SHARED");
    close(fd);
}

TEST(RealDrivers, TheConsoleIsBusyAndStaysAsItWas)
{
    ASSERT_TRUE(insideGuest())
        << "ttyS0 is only ever opened inside the guest, where it is the guest's console";
    const int console = openPort("/dev/ttyS0");
    ASSERT_GE(console, 0);
    ASSERT_EQ(tcgetsid(console), getsid(0))
        << "run-bench.sh starts the checks with the console as their terminal";
    termios before, after; // zeroed whole, so that memcmp sees no stray padding
    memset(&before, 0, sizeof before);
    memset(&after, 0, sizeof after);
    ASSERT_EQ(tcgetattr(console, &before), 0);
    for (const bool background : { false, true }) {
        SCOPED_TRACE(background ? "from a background process group" : "from the foreground process group");
        const Outcome run = comtest({ "--port", "COM1=/dev/ttyS0", "--check", "COM1" }, false, background);
        EXPECT_FALSE(run.hung) << "stopped or hung; said: " << run.out;
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(contains(run.out, "COM1 (/dev/ttyS0): busy: system console")) << run.out;
    }
    const Outcome send = comtest({ "--port", "COM1=/dev/ttyS0", "--com", "COM1", "--send", "x" });
    EXPECT_EQ(send.status, 3) << send.out;
    const Outcome text = comtest({ "--list-ports" }), json = comtest({ "--list-ports", "--json" });
    EXPECT_TRUE(contains(lineWith(text.out, "/dev/ttyS0 "), "system console")) << text.out;
    EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyS0\""), "\"terminal\": \"system console\""))
        << json.out;
    ASSERT_EQ(tcgetattr(console, &after), 0);
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0) << "the console's termios changed";
    close(console);
}

TEST(RealDrivers, AGettysTerminalIsBusy)
{
    int ready[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    const pid_t getty = fork(); // a session leader with ttyS2 as its controlling terminal
    if (getty == 0) {
        const int fd = setsid() < 0 ? -1 : openPort("/dev/ttyS2");
        const char ok = fd >= 0 && ioctl(fd, TIOCSCTTY, 0) == 0;
        if (write(ready[1], &ok, 1) == 1)
            pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0; // the child answers at once or dies, so this read ends
    const bool tty = read(ready[0], &ok, 1) == 1 && ok;
    close(ready[0]);
    const Outcome run = tty ? comtest({ "--port", "COM3=/dev/ttyS2", "--check", "COM3" }) : Outcome {};
    kill(getty, SIGKILL);
    waitpid(getty, nullptr, 0);
    ASSERT_TRUE(tty) << "the getty-like child did not get ttyS2 as its terminal";
    EXPECT_EQ(run.status, 1) << run.out;
    const std::regex busy(
        R"(COM3 \(/dev/ttyS2\): busy: controlling terminal of PID )" + std::to_string(getty) + R"((\D|$))");
    EXPECT_TRUE(std::regex_search(run.out, busy)) << run.out;
}

TEST(RealDrivers, ANodeWithoutAUartIsNamed)
{
    const std::string port = "COM4=/dev/ttyS3", noUart = "no UART behind /dev/ttyS3";
    // The line with LINE holds PART; without LINE, PART is all there is.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string line, part;
    } rows[] = {
        { { "--port", port, "--check", "COM4" }, 1, "COM4", "COM4 (/dev/ttyS3): " + noUart },
        { { "--port", port, "--send", "x", "--com", "COM4" }, 3, "", noUart },
        { { "--port", port, "--selftest", "--com", "COM4" }, 3, "", noUart },
        { { "--port", port, "--list-ports" }, 0, "/dev/ttyS3 ", " no UART " },
        { { "--port", port, "--list-ports", "--json" }, 0, "\"/dev/ttyS3\"", "\"no_uart\": true" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[2] + (row.args.back() == "--json" ? " --json" : ""));
        const Outcome run = comtest(row.args);
        EXPECT_EQ(run.status, row.status) << run.out;
        EXPECT_TRUE(contains(lineWith(run.out, row.line), row.part)) << run.out;
        EXPECT_TRUE(!row.line.empty() || run.out == lineWith(run.out, row.part) + "\n") << run.out;
    }
}

// A rate or a size that the driver keeps but its hardware does not run is refused, and so is a
// loop mode that the driver does not have.
TEST(RealDrivers, WhatTheHardwareDoesNotDoIsRefused)
{
    const std::string file = "/tmp/comtest-refused.cfg",
                      uart = "the UART runs 12800 baud for 12345 (3.7 % off)\n";
    const struct {
        std::string device;
        double baud;
        uint8_t dataBits;
        std::vector<std::string> command;
        int status;
        std::string part;
    } rows[] = {
        { "/dev/ttyS1", 12345, 8, { "--check", "COM2" }, 1, "\nsettings refused: " + uart },
        { "/dev/ttyS1", 12345, 8, { "--send", "x", "--com", "COM2" }, 3, ": " + uart },
        { "/dev/ttyUSB0", 19200, 5, { "--check", "COM2" }, 1, "\nsettings refused: " + kFtdiCs5 + "\n" },
        { "/dev/ttyUSB0", 110, 8, { "--check", "COM2" }, 1, "\nsettings refused: " + kFtdi110 + "\n" },
        { "/dev/ttyUSB0", 19200, 8, { "--selftest", "--internal", "--com", "COM2" }, 3,
            "comtest: COM2 (/dev/ttyUSB0): loop mode not offered by its driver\n" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.device + " " + row.command[0] + " " + row.part);
        headless_test::writeSettingsFile(file, "COM2", row.baud, 0, row.dataBits, 0);
        std::vector<std::string> args { "--port", "COM2=" + row.device, "--settings", file };
        args.insert(args.end(), row.command.begin(), row.command.end());
        const Outcome run = comtest(args);
        EXPECT_EQ(run.status, row.status) << run.out;
        EXPECT_TRUE(contains(run.out, row.part)) << run.out;
    }
}

// TIOCM_LOOP (from asm-generic/termios.h, which clashes with the C library's definitions)
bool inLoopMode(const char* device)
{
    const int fd = openPort(device);
    int lines = 0;
    const bool on = fd >= 0 && ioctl(fd, TIOCMGET, &lines) == 0 && (lines & 0x8000);
    close(fd);
    return on;
}

TEST(RealDrivers, TheInternalSelftestLoopsTheUartAndLeavesNoLoopModeBehind)
{
    const std::vector<std::string> args { "--port", "COM2=/dev/ttyS1", "--selftest", "--internal", "--com",
        "COM2" };
    const Outcome run = comtest(args);
    EXPECT_EQ(run.status, 0) << run.out;
    for (const std::string part : { "\n400 of 400 rows passed\n", "\nRTS->CTS  PASS\n", "\nDTR->DSR  PASS\n",
             "\nOUT2->DCD  PASS\n", "\nDTR→DCD: not wired in loop mode\n" })
        EXPECT_TRUE(contains(run.out, part)) << part << " missing in\n" << run.out;
    EXPECT_FALSE(inLoopMode("/dev/ttyS1")) << "after the run";
    // SIGKILL leaves the loop mode on (on ttyS2, whose far end never answers) until the next open of
    // the port by anyone but a sharer, which ends it.
    for (const int signal : { SIGTERM, SIGINT, SIGKILL }) {
        SCOPED_TRACE(strsignal(signal));
        const std::string device = signal == SIGKILL ? "/dev/ttyS2" : "/dev/ttyS1";
        const Outcome ended
            = comtest({ "--port", "COM3=" + device, "--selftest", "--internal", "--com", "COM3" }, false,
                false, [signal, sent = false](pid_t pid, const std::string& out) mutable {
                    if (!sent && rowsIn(out).size() >= 3)
                        sent = kill(pid, signal) == 0;
                });
        EXPECT_EQ(ended.signal, signal) << ended.out;
        EXPECT_LT(rowsIn(ended.out).size(), 400u) << ended.out;
        EXPECT_EQ(inLoopMode(device.c_str()), signal == SIGKILL) << "after the signal";
        if (signal != SIGKILL)
            continue;
        const Outcome send
            = comtest({ "--port", "COM3=/dev/ttyS2", "--com", "COM3", "--send", "x", "--expect", "x" });
        EXPECT_EQ(send.status, 1) << send.out;
        EXPECT_TRUE(contains(send.out, "\nreceived 0 bytes\n") && !contains(send.out, "reply matches"))
            << send.out;
        EXPECT_FALSE(inLoopMode("/dev/ttyS2")) << "after the send";
    }
}

// Pulls the adapter out through QEMU's monitor or plugs it in again, and waits for its nodes to go or
// come (it comes back as ttyUSB0 only when nothing has the pulled one open any more).
bool plugAdapter(bool in)
{
    std::ofstream("/dev/virtio-ports/comtest.monitor")
        << (in ? "device_add usb-serial,chardev=usb0,id=ftdi0,bus=xhci.0,serial=VMFTDI01\n"
               : "device_del ftdi0\n");
    return waitFor(
        [in] { return (access("/dev/ttyUSB0", F_OK) == 0 && access(kById.c_str(), F_OK) == 0) == in; });
}

TEST(RealDrivers, PullingTheAdapterDuringAReceiveTestLeavesTheWindowWorking)
{
    platform::PortRegistry::instance().mapComPort(1, "/dev/ttyUSB0");
    resetMainWindowToIdle();
    const fault::TickCounter ticks;
    Form1->RXStart_Button->click();
    ASSERT_TRUE(platform::isPort(hComm)) << "the receive test opened ttyUSB0";
    ASSERT_TRUE(ticks.waitForReceive(1, kDeadline));
    ASSERT_TRUE(plugAdapter(false));
    EXPECT_TRUE(ticks.waitForReceive(ticks.receive() + 3, kDeadline)) << "the receive test ticks on";
    const MessageBoxWatcher boxes;
    Form1->PCTest_Button->click(); // returns once the box is answered
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, fault::kOpenError);
    resetMainWindowToIdle();
    ASSERT_TRUE(plugAdapter(true));
}

TEST(RealDrivers, PullingTheAdapterDuringASelftestEndsItAtTheRowThatFindsItGone)
{
    const Outcome run = comtest({ "--port", "COM5=/dev/ttyUSB0", "--selftest", "--com", "COM5" }, false,
        false, [pulled = false](pid_t, const std::string& out) mutable {
            if (!pulled
                && rowsIn(out).size() >= 50) // past the 110 baud rows, which ftdi_sio's chip cannot run
                pulled = plugAdapter(false);
        });
    EXPECT_EQ(run.status, 3) << run.out;
    const auto rows = rowsIn(run.out);
    EXPECT_LT(rows.size(), 400u) << run.out;
    EXPECT_TRUE(!rows.empty() && contains(run.out, rows.back() + "\nport vanished\n")) << run.out;
    ASSERT_TRUE(plugAdapter(true));
}

TEST(RealDrivers, PullingTheAdapterAfterTheReplyCameShowsItAndNamesTheVanishedPort)
{
    // Only comtest reads the port, and only the one byte of the reply: its first read from the port
    // that returns anything (inotify's IN_ACCESS) has taken the whole reply.
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, "/dev/ttyUSB0", IN_ACCESS), 0);
    bool pulled = false;
    const auto start = std::chrono::steady_clock::now();
    const Outcome run = comtest(
        { "--port", "COM5=/dev/ttyUSB0", "--com", "COM5", "--send", "x", "--expect", "x", "--wait", "20000" },
        false, false, [&](pid_t, const std::string& out) {
            pollfd reply { watch, POLLIN, 0 };
            if (out.empty() && poll(&reply, 1, int(std::chrono::milliseconds(kDeadline).count())) == 1)
                pulled = plugAdapter(false);
        });
    close(watch);
    EXPECT_TRUE(pulled) << "the reply was not read as it came";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20))
        << "ended before its 20 s wait";
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_TRUE(contains(run.out, "\nreceived 1 bytes\ntext: x\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "\nreply matches\nport vanished\n")) << run.out;
    const Outcome check = comtest({ "--port", "COM5=/dev/ttyUSB0", "--check", "COM5" });
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_TRUE(contains(check.out, "COM5 (/dev/ttyUSB0): missing")) << check.out;
    ASSERT_TRUE(plugAdapter(true));
}

} // namespace

int main(int argc, char** argv)
{
    if (!insideGuest() || !std::getenv("COMTEST_BINARY")) {
        std::cerr << "test_real_drivers runs only inside the guest of tests/vm/run-bench.sh (comtest_vm=1 on "
                     "the kernel command line, COMTEST_BINARY set): refusing to run here\n";
        return 1;
    }
    return runWindowTests(argc, argv); // the window's checks need it; the others run beside it
}
