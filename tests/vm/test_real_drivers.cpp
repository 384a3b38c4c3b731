// Checks that run inside the QEMU guest of run-bench.sh: the real comtest binary (COMTEST_BINARY)
// on the real 8250 driver (ttyS1 with an echoing far end, ttyS2 with a swallowing one, ttyS0 the
// guest's console) and the real ftdi_sio driver (ttyUSB0, echoing). Every child runs under a
// deadline; nothing here measures time, since TCG's timing is not a machine's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
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
    bool hung = false;
    std::string out; // stdout and stderr together
};

// Runs comtest with ARGS, as root or as nobody, optionally in a process group of its own: a
// background group of our session, whose controlling terminal is the console.
Outcome comtest(std::vector<std::string> args, bool asNobody = false, bool background = false)
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
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
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
    return outcome;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The line of TEXT that contains KEY, or "".
std::string lineWith(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (contains(line, key))
            return line;
    return {};
}

int openPort(const char* device) { return open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }

int bytesWaiting(int fd)
{
    int n = -1;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Sets a self-test row's settings on FD and tells whether termios reads back what was asked.
bool driverKeeps(int fd, int baud, const std::string& parity, int data, int stop)
{
    static const std::map<int, speed_t> speeds { { 110, B110 }, { 300, B300 }, { 1200, B1200 }, { 2400, B2400 },
        { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 }, { 57600, B57600 },
        { 115200, B115200 } };
    static const std::map<std::string, tcflag_t> parities { { "None", 0 }, { "Odd", PARENB | PARODD },
        { "Even", PARENB }, { "Mark", PARENB | PARODD | CMSPAR }, { "Space", PARENB | CMSPAR } };
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    termios asked {}, back {};
    tcgetattr(fd, &asked);
    cfmakeraw(&asked);
    asked.c_cflag = (asked.c_cflag & ~mask) | CLOCAL | CREAD | parities.at(parity)
        | (data == 5 ? CS5 : data == 6 ? CS6 : data == 7 ? CS7 : CS8) | (stop == 2 ? CSTOPB : 0);
    cfsetspeed(&asked, speeds.at(baud));
    tcsetattr(fd, TCSANOW, &asked);
    tcgetattr(fd, &back);
    return (back.c_cflag & mask) == (asked.c_cflag & mask) && cfgetospeed(&back) == cfgetospeed(&asked);
}

TEST(RealDrivers, SelftestRowsMatchWhatTheDriverKeeps)
{
    static const std::regex row(R"(^\s*(\d+)\s+(None|Odd|Even|Mark|Space)\s+([5-8])\s+([12])\s+(PASS|FAIL)\s*(.*)$)");
    for (const std::string device : { "/dev/ttyS1", "/dev/ttyUSB0" }) {
        SCOPED_TRACE(device);
        const bool ftdi = device == "/dev/ttyUSB0";
        const Outcome run = comtest({ "--port", "COM2=" + device, "--selftest", "--com", "COM2" });
        ASSERT_FALSE(run.hung) << run.out;
        EXPECT_TRUE(run.status == 0 || run.status == 1) << run.out; // 1: the modem loops lack a plug
        const int fd = openPort(device.c_str());
        ASSERT_GE(fd, 0);
        std::map<std::string, int> keptByValue; // e.g. "data 6" -> rows with it that termios kept
        int rows = 0, passed = 0, kept = 0;
        std::istringstream in(run.out);
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            if (!std::regex_match(line, m, row))
                continue;
            const int baud = std::stoi(m[1]), data = std::stoi(m[3]), stop = std::stoi(m[4]);
            const bool pass = m[5] == "PASS", keeps = driverKeeps(fd, baud, m[2], data, stop);
            EXPECT_EQ(pass, keeps) << line;
            EXPECT_EQ(pass, !(ftdi && data == 6)) << line; // ftdi_sio refuses CS6
            EXPECT_EQ(m[6], pass ? "" : "the driver refused the settings") << line;
            ++rows, passed += pass, kept += keeps;
            for (const auto& value : { "baud " + m[1].str(), "parity " + m[2].str(), "data " + m[3].str(),
                     "stop " + m[4].str() })
                keptByValue[value] += keeps;
        }
        close(fd);
        EXPECT_EQ(rows, 400) << run.out;
        std::cout << device << ": " << passed << " of " << rows << " rows PASS, termios kept " << kept
                  << "; never kept:";
        for (const auto& [value, n] : keptByValue)
            std::cout << (n == 0 ? " " + value : "");
        std::cout << (kept == rows ? " nothing\n" : "\n");
    }
}

TEST(RealDrivers, ListPortsNamesDriversAndTheAdapter)
{
    const Outcome text = comtest({ "--list-ports" }), json = comtest({ "--list-ports", "--json" });
    ASSERT_EQ(text.status, 0) << text.out;
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_TRUE(contains(lineWith(text.out, "/dev/ttyS1 "), " serial ")) << text.out;
    for (const std::string& part : std::vector<std::string> { "ftdi_sio", "0403:6001", "VMFTDI01", kById })
        EXPECT_TRUE(contains(lineWith(text.out, "/dev/ttyUSB0 "), part)) << part << " missing in\n" << text.out;
    EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyS1\""), "\"driver\": \"serial\"")) << json.out;
    for (const std::string& part : std::vector<std::string> { "\"driver\": \"ftdi_sio\"", "\"usb_id\": \"0403:6001\"",
             "\"serial\": \"VMFTDI01\"", "\"by_id\": \"" + kById + "\"" })
        EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyUSB0\""), part)) << part << " missing in\n" << json.out;
    EXPECT_FALSE(contains(text.out + json.out, "/dev/ttyS3")) << "ttyS3 has no UART\n" << text.out << json.out;
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
                EXPECT_TRUE(other >= 0 && flock(other, LOCK_EX | LOCK_NB) != 0) << "the holder's flock is gone";
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
    ASSERT_TRUE(insideGuest()) << "ttyS0 is only ever opened inside the guest, where it is the guest's console";
    const int console = openPort("/dev/ttyS0");
    ASSERT_GE(console, 0);
    ASSERT_EQ(tcgetsid(console), getsid(0)) << "run-bench.sh starts the checks with the console as their terminal";
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
    EXPECT_TRUE(contains(lineWith(json.out, "\"/dev/ttyS0\""), "\"terminal\": \"system console\"")) << json.out;
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

// Last, as it takes the adapter away: the guest's monitor port unplugs it.
TEST(RealDrivers, PullingTheAdapterOutLeavesAMissingPort)
{
    std::ofstream("/dev/virtio-ports/comtest.monitor") << "device_del ftdi0\n";
    ASSERT_TRUE(waitFor([] { return access("/dev/ttyUSB0", F_OK) != 0; })) << "/dev/ttyUSB0 is still there";
    const Outcome run = comtest({ "--port", "COM5=/dev/ttyUSB0", "--check", "COM5" });
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "COM5 (/dev/ttyUSB0): missing")) << run.out;
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!insideGuest() || !std::getenv("COMTEST_BINARY")) {
        std::cerr << "test_real_drivers runs only inside the guest of tests/vm/run-bench.sh (comtest_vm=1 on "
                     "the kernel command line, COMTEST_BINARY set): refusing to run here\n";
        return 1;
    }
    return RUN_ALL_TESTS();
}
