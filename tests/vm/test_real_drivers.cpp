// Runs inside run-bench.sh's QEMU guest: the real comtest (COMTEST_BINARY) on the 8250 driver (ttyS1
// echoes; ttyS2 swallows; ttyS3 has no UART; ttyS0 is the guest's console;
// ttyS4 and ttyS5, on a PCI card, are joined by a null-modem) and on ftdi_sio (ttyUSB0, echoing).
#include "support/PtyPair.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <map>
#include <regex>

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);
const std::string kById = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_VMFTDI01-if00-port0";
const std::string kComtest = "\"$COMTEST_BINARY\" "; // what a command line starts with
const std::string kFtdiCs5 = "ftdi_sio sends 8 data bits when 5 are asked",
                  kFtdi110 = "ftdi_sio runs 276 baud for 110 (150.5 % off)";

int openPort(const std::string& device)
{
    return open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

using Outcome = std::pair<int, std::string>; // the exit status (minus the ending signal) and the output

// Runs COMMAND (kComtest and its arguments) under timeout, which passes signals on and dies of the one
// that ended it. MEANWHILE gets timeout's PID (the shell's, told before exec) and the output, each line.
Outcome comtest(
    const std::string& command, const std::function<void(pid_t, const std::string&)>& meanwhile = {})
{
    const std::string shell_command
        = "echo $$; exec timeout --foreground -s KILL 30 " + command + " </dev/null 2>&1";
    FILE* shell = popen(shell_command.c_str(), "r");
    char line[4096];
    const pid_t pid = std::fgets(line, sizeof line, shell) ? std::atoi(line) : 0;
    std::string out;
    for (bool more = true; more; more = std::fgets(line, sizeof line, shell) && out.append(line).size())
        if (meanwhile)
            meanwhile(pid, out);
    const int status = pclose(shell);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), out };
}

// A self-test row: baud, parity, data bits, stop bits, PASS or FAIL, and the reason of a FAIL.
const std::regex kRow(R"((\d+) +(None|Odd|Even|Mark|Space) +([5-8]) +([12]) +(PASS|FAIL) *(.*))");

// Sets a self-test ROW's settings on FD and tells whether termios reads them back as asked.
bool driverKeeps(int fd, const std::smatch& row)
{
    static const std::map<std::string, tcflag_t> parities { { "None", 0 }, { "Odd", PARENB | PARODD },
        { "Even", PARENB }, { "Mark", PARENB | PARODD | CMSPAR }, { "Space", PARENB | CMSPAR } };
    static const tcflag_t sizes[] { CS5, CS6, CS7, CS8 }, mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    termios asked {}, back {};
    tcgetattr(fd, &asked);
    cfmakeraw(&asked);
    asked.c_cflag = (asked.c_cflag & ~mask) | CLOCAL | CREAD | parities.at(row[2])
        | sizes[std::stoi(row[3]) - 5] | (row[4] == "2" ? CSTOPB : 0);
    cfsetspeed(&asked, speed_t(std::stoi(row[1]))); // glibc takes the number as well as its B constant
    tcsetattr(fd, TCSANOW, &asked);
    tcgetattr(fd, &back);
    return (back.c_cflag & mask) == (asked.c_cflag & mask) && cfgetospeed(&back) == cfgetospeed(&asked);
}

// A row passes when the driver keeps its settings, except where ftdi_sio keeps what its chip does
// not do: it sends 8 data bits for 5, and its 14-bit divisor wraps below 183 baud.
TEST(RealDrivers, SelftestRowsMatchWhatTheDriverKeeps)
{
    for (const std::string device : { "/dev/ttyS1", "/dev/ttyUSB0" }) {
        SCOPED_TRACE(device);
        const bool ftdi = device == "/dev/ttyUSB0";
        const auto [status, out] = comtest(kComtest + "--port COM2=" + device + " --selftest --com COM2");
        EXPECT_LE(unsigned(status), 1u) << out; // 1: the modem loops lack a plug
        const int fd = openPort(device);
        size_t rows = 0;
        for (std::sregex_iterator it(out.begin(), out.end(), kRow), end; it != end; ++it, ++rows) {
            const std::smatch& row = *it;
            const bool pass = row[5] == "PASS", keeps = driverKeeps(fd, row);
            const std::string chip = !ftdi ? "" : row[3] == "5" ? kFtdiCs5 : row[1] == "110" ? kFtdi110 : "";
            EXPECT_EQ(pass, keeps && chip.empty()) << row[0];
            EXPECT_EQ(row[6], pass ? "" : keeps ? chip : "the driver refused the settings") << row[0];
        }
        close(fd);
        EXPECT_EQ(rows, 400u) << out;
    }
}

std::string settings(uint32_t baud, uint8_t data, const std::string& port = "COM2") // "--settings FILE "
{
    const std::string file = "/tmp/comtest-vm-" + std::to_string(baud) + "-" + std::to_string(data) + port;
    writeSettingsFile(file, port, baud, 0, data, 0);
    return "--settings " + file + " ";
}

// The node without a UART, rates the hardware does not run, the console, the adapter
// by its own COM name: command line, exit status, output (^ $: all).
TEST(RealDrivers, CommandsSayWhatTheDriversDo)
{
    const std::string list = kComtest + "--list-ports", p = kComtest + "--port COM2=/dev/tty", s0 = p + "S0 ",
                      s1 = p + "S1 ", s3 = p + "S3 ";
    const std::string uart = R"(the UART runs 12800 baud for 12345 \(3\.7 % off\)\n)";
    const std::tuple<std::string, int, std::string> rows[] {
        { list, 0, "\n/dev/ttyS1 +COM2 +serial .*\n/dev/ttyS2 +COM3 +serial " },
        { list, 0, "\n/dev/ttyUSB0 +COM4 +ftdi_sio +0403:6001 +VMFTDI01 .* " + kById + "\n" },
        { kComtest + settings(19200, 8, "COM4") + "--send x --expect x", 0,
            R"(^COM4 \(/dev/ttyUSB0\): sent[\s\S]*\nreply matches\n$)" },
        { s3 + "--list-ports", 0, "\n/dev/ttyS3 .* no UART " },
        { s3 + "--check COM2", 1, R"(COM2 \(/dev/ttyS3\): no UART behind /dev/ttyS3\n)" },
        { s1 + settings(12345, 8) + "--check COM2", 1, "\nsettings refused: " + uart },
        { s0 + "--check COM2", 1, R"(COM2 \(/dev/ttyS0\): busy: system console\n)" },
    };
    std::map<std::string, Outcome> runs;
    for (const auto& [args, status, pattern] : rows) {
        SCOPED_TRACE(args + " -> " + pattern);
        const auto& [code, out] = runs.contains(args) ? runs[args] : runs[args] = comtest(args);
        EXPECT_EQ(code, status) << out;
        EXPECT_TRUE(std::regex_search(out, std::regex(pattern))) << out;
    }
    EXPECT_EQ(runs[list].second.find("ttyS3"), std::string::npos) << "no UART";
}

// Plugs a USB serial adapter in or pulls it out through QEMU's monitor, and waits until its by-id link came
// or went (back as the same node only once nothing has the pulled one open). A device_add goes twice: QEMU
// lets go of a pulled adapter's chardev in an RCU callback that a device_add runs; the second finds it free.
bool plug(bool in)
{
    const std::string add = "device_add usb-serial,id=ftdi0,serial=VMFTDI01,chardev=usb0";
    std::ofstream("/dev/virtio-ports/comtest.monitor") << (in ? add + '\n' + add : "device_del ftdi0") + '\n';
    EXPECT_TRUE(PtyPair::waitUntil([&] { return (access(kById.c_str(), F_OK) == 0) == in; }, kDeadline))
        << kById << (in ? " absent 30 s after " + add : " still there 30 s after device_del ftdi0");
    return (access(kById.c_str(), F_OK) == 0) == in;
}

// Acts on a run under way: SIGTERM to it, or "unplug" (the adapter pulled out).
bool act(const std::string& action, pid_t pid)
{
    return action == "SIGTERM" ? kill(pid, SIGTERM) == 0 : plug(false);
}

// Self-tests and traffic, also cut short by SIGTERM (loop mode ends all the same) or the adapter pulled
// (after --send's first read, the reply). QEMU's models have no baud timing.
TEST(RealDrivers, RunsReportWhatTheyDidAndEndCleanlyWhenCutShort)
{
    const std::string internal = kComtest + "--port COM2=/dev/ttyS1 --selftest --internal --com COM2",
                      s1 = kComtest + "--port COM2=/dev/ttyS1 --com COM2 ",
                      usb = kComtest + "--port COM5=/dev/ttyUSB0 --com COM5 ", none = "";
    const std::string zero = "frame 0, parity 0, overrun 0, break 0, buffer overrun 0\n";
    // arguments; ACTION after LINES of output (-1: at the first read from DEVICE); exit status; output
    const std::tuple<std::string, std::string, int, std::string, int, std::string> rows[] {
        { internal, none, 0, "", 0,
            "\nDTR→DCD: not wired in loop mode\nRTS->CTS  PASS\nDTR->DSR  PASS\nOUT2->DCD  PASS\n400 of 400 "
            "rows passed\n$" },
        { internal, none, 5, "SIGTERM", -SIGTERM, "(PASS|FAIL).*\n$" },
        { usb + "--send x --expect x --wait 20000", "/dev/ttyUSB0", -1, "unplug", 3,
            "\nreceived 1 bytes\ntext: x\nhex: 78\nreply matches\nport vanished\n$" },
        { s1 + "--stress --internal --bytes 20000", none, 0, "", 0,
            "COM2 -> COM2: sent 20000, received 20000, verified 20000, lost 0, corrupted 0, extra "
            "0.*\n.*COM2.*: "
                + zero + "PASS" },
        { kComtest
                + "--port COM5=/dev/ttyS4 --port COM6=/dev/ttyS5 --com COM5 --to COM6 --stress --bytes 20000",
            none, 0, "", 0,
            "COM5 -> COM6: sent 20000, received 20000, verified 20000, lost 0.*\nCOM6 -> COM5: sent 20000, "
            "received 20000, verified 20000, lost 0.*\n.*COM5.*: "
                + zero + ".*COM6.*: " + zero + "PASS" },
        { usb + "--stress --seconds 20", "/dev/ttyUSB0", -1, "unplug", 3,
            "COM5 -> COM5: sent [1-9].*\n.*: not read at the end: the port went away\nport vanished\n$" },
    };
    for (const auto& [args, device, lines, action, status, pattern] : rows) {
        SCOPED_TRACE(args + ", " + action + " -> " + pattern);
        const int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(device.empty() ? 0 : inotify_add_watch(watch, device.c_str(), IN_ACCESS), 0) << device;
        const auto start = std::chrono::steady_clock::now();
        const auto [code, out] = comtest(args, [&, done = false](pid_t pid, const std::string& out) mutable {
            pollfd read { watch, POLLIN, 0 };
            if (!done && !action.empty()
                && (lines < 0 ? out.empty() && poll(&read, 1, 30000) == 1
                              : std::count(out.begin(), out.end(), '\n') >= lines))
                done = act(action, pid);
        });
        close(watch);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "waited on";
        EXPECT_EQ(code, status) << out;
        EXPECT_TRUE(std::regex_search(out, std::regex(pattern))) << out;
        int modem = 0, uart = openPort("/dev/ttyS1"); // TIOCM_LOOP below: asm-generic/termios.h clashes
        ASSERT_EQ(ioctl(uart, TIOCMGET, &modem), 0);
        EXPECT_EQ(modem & 0x8000, 0) << "ttyS1 left in loop mode";
        close(uart);
        ASSERT_TRUE(action == "unplug" ? plug(true) : true) << "the adapter plugged back";
    }
    const std::string check = comtest(kComtest + "--check COM4").second; // after the replugs
    EXPECT_EQ(std::regex_replace(check, std::regex("USB\\d"), "USB#"), "COM4 (/dev/ttyUSB#): free\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::string cmdline; // ttyS0 is opened only inside the guest, where it is the guest's console
    std::getline(std::ifstream("/proc/cmdline"), cmdline);
    testing::InitGoogleTest(&argc, argv);
    if (cmdline.find(" comtest_vm=1") != std::string::npos && std::getenv("COMTEST_BINARY"))
        return RUN_ALL_TESTS();
    std::cerr << "test_real_drivers runs only inside the guest of tests/vm/run-bench.sh\n";
    return 1;
}
