// --list-ports: the devices the system knows and those named by --port, with their holders found
// without opening them; and the inventory's rules over a sysfs tree of its own.
#include "platform/discovery/DeviceInventory.h"
#include "support/PtyPair.h"
#include "test_headless_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/file.h>

using headless_test::contains;
namespace fs = std::filesystem;

namespace {

class PortListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveProgram())
            GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
        ASSERT_TRUE(pty.ok());
    }

    // The table line or JSON object of our pty.
    std::string entryOfPty(const std::string& out) const
    {
        for (const auto& line : headless_test::lines(out))
            if (contains(line, pty.slavePath() + " ") || contains(line, "\"" + pty.slavePath() + "\""))
                return line;
        return {};
    }

    PtyPair pty;
};

// A tree that looks like /sys and /dev: a UART, an 8250 node without one, USB and ACM adapters.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder.path().empty()); }

    fs::path at(const std::string& relative) const { return fs::path(folder.path()) / relative; }
    void dir(const std::string& relative) const { fs::create_directories(at(relative)); }
    void file(const std::string& relative, const std::string& text) const
    {
        fs::create_directories(at(relative).parent_path());
        std::ofstream(at(relative)) << text << "\n";
    }
    void link(const std::string& relative, const std::string& target) const
    {
        fs::create_directories(at(relative).parent_path());
        fs::create_directory_symlink(target, at(relative));
    }
    void tty(const std::string& name, const std::string& deviceDir, const std::string& type = "") const
    {
        dir("sys/" + deviceDir);
        link("sys/class/tty/" + name + "/device", "../../../" + deviceDir);
        if (!type.empty())
            file("sys/class/tty/" + name + "/type", type);
        file("dev/" + name, "");
    }
    void driver(const std::string& deviceDir, const std::string& bus, const std::string& name) const
    {
        dir("sys/bus/" + bus + "/drivers/" + name);
        const size_t depth = std::count(deviceDir.begin(), deviceDir.end(), '/') + 1;
        std::string up;
        for (size_t i = 0; i < depth; ++i)
            up += "../";
        link("sys/" + deviceDir + "/driver", up + "bus/" + bus + "/drivers/" + name);
    }

    headless_test::TempFolder folder;
};

} // namespace

TEST_F(PortListing, PtyNamedByPortIsListedFreeWithItsComNameAndOurOwnDescriptorAsAlsoOpen)
{
    const ProgramRun run = runProgram("--port COM6=" + pty.slavePath() + " --list-ports");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.rfind("DEVICE", 0), 0u) << "a header line first: " << run.out;
    const std::string line = entryOfPty(run.out);
    ASSERT_FALSE(line.empty()) << run.out;
    EXPECT_TRUE(contains(line, " COM6 ")) << line;
    EXPECT_TRUE(contains(line, " pty ")) << line;
    EXPECT_TRUE(contains(line, " no ")) << "an unlocked descriptor does not hold the port: " << line;
    EXPECT_TRUE(contains(line, std::to_string(getpid()))) << "this test has the pty open: " << line;
}

TEST_F(PortListing, JsonNamesTheFlockHolderAndTheOtherOpeners)
{
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char state = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        [[maybe_unused]] ssize_t ignored = write(ready[1], &state, 1);
        close(release[1]);
        char byte;
        ignored = read(release[0], &byte, 1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char state = 'n';
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');
    const ProgramRun run = runProgram("--port COM2=" + pty.slavePath() + " --list-ports --json");
    close(release[1]);
    waitpid(child, nullptr, 0);
    close(ready[0]);

    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.front(), '[') << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "]\n") << run.out;
    const std::string entry = entryOfPty(run.out);
    ASSERT_FALSE(entry.empty()) << run.out;
    EXPECT_TRUE(contains(entry,
        "{\"device\": \"" + pty.slavePath()
            + "\", \"com\": \"COM2\", \"driver\": \"pty\", \"usb_id\": null, \"serial\": null, \"by_id\": "
              "null, "
              "\"held\": true, \"holder\": "
            + std::to_string(child) + ", \"open_by\": ["))
        << entry;
    const std::string openBy = entry.substr(entry.find("\"open_by\""));
    EXPECT_TRUE(contains(openBy, std::to_string(getpid()))) << entry;
    EXPECT_TRUE(contains(openBy, std::to_string(child))) << entry;
}

TEST_F(PortListing, ComNameFollowsTheLastMappingAndBadArgumentsExitTwo)
{
    const ProgramRun run
        = runProgram("--port COM3=/dev/null --port COM3=" + pty.slavePath() + " --list-ports --json");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(entryOfPty(run.out), "\"com\": \"COM3\"")) << run.out;
    const ProgramRun bad = runProgram("--list-ports --check COM1");
    EXPECT_EQ(bad.status, 2) << bad.out;
    EXPECT_TRUE(contains(bad.out, "Usage: comtest")) << bad.out;
}

TEST_F(FakeSysfs, ListsUartsAdaptersAndStableNamesInNaturalOrder)
{
    // 8250 nodes behind the serial core's own "port" device; ttyS1 has no UART (type 0).
    driver("devices/pnp0/00:01", "pnp", "serial");
    driver("devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
    tty("ttyS0", "devices/pnp0/00:01/00:01:0/00:01:0.0", "4");
    tty("ttyS1", "devices/platform/serial8250/serial8250:0.1", "0");
    tty("ttyS2", "devices/platform/serial8250/serial8250:0.2", "4");
    tty("ttyS10", "devices/platform/serial8250/serial8250:0.10", "4");
    driver("devices/platform/serial8250", "platform", "serial8250");
    // An FTDI adapter with a serial number, and an ACM board without one.
    file("sys/devices/pci0000:00/usb1/1-1/idVendor", "0403");
    file("sys/devices/pci0000:00/usb1/1-1/idProduct", "6001");
    file("sys/devices/pci0000:00/usb1/1-1/serial", "A10K7XYZ");
    driver("devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tty("ttyUSB0", "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
    file("sys/devices/pci0000:00/usb1/1-2/idVendor", "2341");
    file("sys/devices/pci0000:00/usb1/1-2/idProduct", "0043");
    driver("devices/pci0000:00/usb1/1-2/1-2:1.0", "usb", "cdc_acm");
    tty("ttyACM0", "devices/pci0000:00/usb1/1-2/1-2:1.0");
    // A virtual console: no device link.
    dir("sys/class/tty/tty1");
    fs::create_directories(at("dev/serial/by-id"));
    fs::create_symlink("../../ttyUSB0", at("dev/serial/by-id/usb-FTDI_FT232R_A10K7XYZ-if00-port0"));

    const platform::InventoryRoots roots { at("sys").string(), at("dev").string() };
    const auto devices = platform::serialDevices(roots);
    std::vector<std::string> names;
    for (const auto& device : devices)
        names.push_back(fs::path(device.device).filename().string());
    EXPECT_EQ(names, (std::vector<std::string> { "ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0" }));
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].driver, "cdc_acm");
    EXPECT_EQ(devices[0].usbId, "2341:0043");
    EXPECT_EQ(devices[0].serial, "");
    EXPECT_EQ(devices[1].driver, "serial") << "the serial core's port driver says nothing of the hardware";
    EXPECT_EQ(devices[2].driver, "serial8250");
    EXPECT_EQ(devices[4].driver, "ftdi_sio");
    EXPECT_EQ(devices[4].usbId, "0403:6001");
    EXPECT_EQ(devices[4].serial, "A10K7XYZ");
    EXPECT_EQ(devices[4].byId, at("dev/serial/by-id/usb-FTDI_FT232R_A10K7XYZ-if00-port0").string());
    EXPECT_EQ(devices[1].byId, "");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
