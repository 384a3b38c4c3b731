// The COM names of the devices in a fake /sys and /dev, and their file under a fake configuration
// folder, written by real processes.
#include "platform/discovery/ComNames.h"
#include "support/FakeTree.h"
#include "support/FolderContents.h"
#include "support/ParseArguments.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// The tree entries of one device: "ttyS1" a UART, "ttyS3-" a node without one, "ttyAMA0" another
// tty, "ttyUSB0=SERIAL@PORT.INTERFACE" an FTDI adapter's port ("=@2": no serial number).
std::string deviceEntries(const std::string& spec)
{
    const std::string name = spec.substr(0, spec.find_first_of("-="));
    std::string entries = "dev/" + name + "=node class/tty/" + name + "/device=";
    if (!spec.starts_with("ttyUSB"))
        return entries + "/devices/platform/uart"
            + (name.starts_with("ttyS") ? " class/tty/" + name + "/type=" + (spec.ends_with('-') ? "0" : "4")
                                        : "");
    const std::string serial = spec.substr(spec.find('=') + 1, spec.find('@') - spec.find('=') - 1);
    const std::string place
        = spec.substr(spec.find('@') + 1) + (spec.find('.') == std::string::npos ? ".0" : "");
    const std::string usb = "devices/usb1/1-" + place.substr(0, place.find('.'));
    const std::string interface = "1-" + place.substr(0, place.find('.')) + ":1."
        + place.substr(place.find('.') + 1);
    const std::string number = "0" + place.substr(place.find('.') + 1);
    entries += "/" + usb + "/" + interface + "/" + name + " " + usb + "/"
        + interface + "/bInterfaceNumber=" + number;
    entries += " " + usb + "/" + interface + "/" + name + "/port_number=0 " + usb + "/idVendor=0403 " + usb
        + "/idProduct=6001 dev/serial/by-path/pci-usb-0:" + interface.substr(2) + "-port0=/dev/" + name;
    if (serial.empty())
        return entries;
    return entries + " " + usb + "/serial=" + serial + " dev/serial/by-id/usb-FTDI_" + serial + "-if" + number
        + "-port0=/dev/" + name;
}

// "COM1:ttyUSB0 COM2:serial/by-id/...": each name and where its device is (or would be), under /dev.
std::string namesIn(const platform::ComNameTable& table, const std::string& dev)
{
    std::string text;
    for (const auto& [number, named] : table.names)
        text += (text.empty() ? "COM" : " COM") + std::to_string(number) + ":"
            + named.device.substr(dev.size() + 1);
    return text;
}

// The file's lines other than comments, "; " between them; "(none)" when there is no file.
std::string recordsIn(const std::string& path)
{
    if (!fs::exists(path))
        return "(none)";
    std::ifstream in(path);
    std::string text;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && !line.starts_with('#'))
            text += (text.empty() ? "" : "; ") + line;
    return fs::is_directory(path) ? "(a folder)" : text;
}

// The roots for a row's "file before": a file's text, or a folder where it would be, or no folder to
// make, or none at all.
platform::NameRoots rootsFor(const std::string& before, const std::string& path)
{
    platform::NameRoots roots { { path + "/tree", path + "/tree/dev" }, path + "/config" };
    fs::create_directories(roots.configFolder + "/comtest");
    if (before == "<folder>")
        fs::create_directories(roots.configFolder + "/comtest/ports");
    else if (before == "<read-only>")
        roots.configFolder = path + "/tree/dev/ttyUSB0/config"; // below a file: no folder there
    else if (before == "<none>")
        roots.configFolder = "";
    else if (before != "-")
        std::ofstream(roots.configFolder + "/comtest/ports")
            << std::regex_replace(before, std::regex("¶"), "\n") << "\n";
    return roots;
}

// The devices of each step ("ttyAMA*3": ttyAMA0 to ttyAMA2) looked up
// in turn: the names after each step, " / " between them, and the last warning, "~" for the folder.
std::pair<std::string, std::string> lookUpSteps(const platform::NameRoots& roots, const std::string& steps)
{
    std::string names;
    std::string warning;
    std::istringstream in(steps);
    for (std::string step; std::getline(in, step, '/');) {
        fs::remove_all(roots.tree.sys);
        for (std::istringstream devices(step); devices >> step;) {
            const size_t star = step.find('*');
            const size_t count = star == std::string::npos ? 1 : std::stoul(step.substr(star + 1));
            for (size_t i = 0; i < count; ++i)
                buildTree(roots.tree.sys,
                    deviceEntries(
                        star == std::string::npos ? step : step.substr(0, star) + std::to_string(i)));
        }
        const platform::ComNameTable table = platform::lookUpComNames(roots);
        names += (names.empty() ? "" : " / ") + namesIn(table, roots.tree.dev);
        warning = table.warning;
        if (!roots.configFolder.empty() && warning.find(roots.configFolder) != std::string::npos)
            warning.replace(warning.find(roots.configFolder), roots.configFolder.size(), "~");
    }
    return { names, warning };
}

// Equal, or for "...TEXT" ending with TEXT.
bool matches(const std::string& actual, const std::string& expected)
{
    return expected.starts_with("...") ? actual.ends_with(expected.substr(3)) : actual == expected;
}

TEST(ComNames, EveryDeviceGetsANameThatStaysWithIt)
{
    // what holds | the file before ("¶" a line end) | the devices at each look-up, " / " between |
    // the names then | the file's records after | the warning ("-": none; "...": how it ends)
    for (const auto& row : rowsOf(R"(
UARTs keep COMn and need no record | - | ttyS0 ttyS1 ttyS2- ttyS3- | COM1:ttyS0 COM2:ttyS1 | (none) | -
a laptop's first adapter is COM1 | - | ttyS0- ttyS1- ttyUSB0=A1@2 | COM1:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0 | -
beside UARTs, the lowest free number | - | ttyS0 ttyS1 ttyS3- ttyUSB0=A1@2 | COM1:ttyS0 COM2:ttyS1 COM3:ttyUSB0 | COM3 by-id usb-FTDI_A1-if00-port0 | -
an adapter keeps its name on any plug, another gets another | - | ttyUSB0=A1@2 / ttyUSB0=B2@3 / ttyUSB0=B2@2 ttyUSB1=A1@3 | COM1:ttyUSB0 / COM1:serial/by-id/usb-FTDI_A1-if00-port0 COM2:ttyUSB0 / COM1:ttyUSB1 COM2:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0; COM2 by-id usb-FTDI_B2-if00-port0 | -
the ports of one chip stay apart | - | ttyUSB0=F4@2.0 ttyUSB1=F4@2.1 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-id usb-FTDI_F4-if00-port0; COM2 by-id usb-FTDI_F4-if01-port0 | -
without a serial number the place counts | - | ttyUSB0=@2 / ttyUSB0=@3 / ttyUSB0=@2 | COM1:ttyUSB0 / COM1:serial/by-path/pci-usb-0:2:1.0-port0 COM2:ttyUSB0 / COM1:ttyUSB0 COM2:serial/by-path/pci-usb-0:3:1.0-port0 | COM1 by-path pci-usb-0:2:1.0-port0; COM2 by-path pci-usb-0:3:1.0-port0 | -
clones of one serial number go by place | - | ttyUSB0=C1@2 ttyUSB1=C1@3 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-path pci-usb-0:2:1.0-port0; COM2 by-path pci-usb-0:3:1.0-port0 | -
a record outlives its device and a UART behind its node | COM2 by-id usb-FTDI_A1-if00-port0 | ttyS0 ttyS1 ttyAMA0 | COM1:ttyS0 COM2:serial/by-id/usb-FTDI_A1-if00-port0 COM3:ttyAMA0 COM4:ttyS1 | COM2 by-id usb-FTDI_A1-if00-port0; COM3 tty ttyAMA0; COM4 tty ttyS1 | -
garbage: its good lines stand, it is never written | COM1 tty ttyAMA0¶bogus¶COM2 tty ttyAMA1 | ttyAMA0 ttyUSB0=B2@2 | COM1:ttyAMA0 COM2:ttyAMA1 COM3:ttyUSB0 | COM1 tty ttyAMA0; bogus; COM2 tty ttyAMA1 | comtest: COM names given now hold for this run only (~/comtest/ports: line 2: expected "COMn by-id|by-path|tty NAME")
a number named twice: the first line holds | COM1 tty ttyAMA0¶COM1 tty ttyAMA1 | ttyAMA1 | COM1:ttyAMA0 COM2:ttyAMA1 | COM1 tty ttyAMA0; COM1 tty ttyAMA1 | ...line 2: COM1 is named twice)
a device named twice: the first line holds | COM1 tty ttyAMA0¶COM2 tty ttyAMA0 | ttyUSB0=@2 | COM1:ttyAMA0 COM2:ttyUSB0 | COM1 tty ttyAMA0; COM2 tty ttyAMA0 | ...line 2: tty ttyAMA0 has two names)
a file that cannot be read | <folder> | ttyUSB0=A1@2 | COM1:ttyUSB0 | (a folder) | ...(~/comtest/ports: cannot be read)
a home that cannot be written | <read-only> | ttyUSB0=A1@2 | COM1:ttyUSB0 | (none) | ...(~/comtest/ports: cannot be written)
no home at all | <none> | ttyUSB0=A1@2 | COM1:ttyUSB0 | (none) | ...(~/.config: no home folder)
more than 256 devices | - | ttyAMA*257 | ...COM256:ttyAMA255 COM257:ttyAMA256 | ...COM256 tty ttyAMA255; COM257 tty ttyAMA256 | -)")) {
        SCOPED_TRACE(row[0]);
        Folder folder;
        const platform::NameRoots roots = rootsFor(row[1], folder.path);
        const auto [names, warning] = lookUpSteps(roots, row[2]);
        EXPECT_PRED2(matches, names, row[3]) << "the names of the devices";
        EXPECT_PRED2(matches, recordsIn(folder.path + "/config/comtest/ports"), row[4])
            << "the file's records";
        EXPECT_PRED2(matches, warning, row[5] == "-" ? "" : row[5]) << "the warning";
    }
}

// Two processes name devices of their own at once while this one reads the file.
TEST(ComNames, TwoWritersAtOnceKeepEveryNameAndReadersSeeWholeFiles)
{
    Folder folder;
    const std::string config = folder.path + "/config";
    fs::create_directories(config + "/comtest");
    std::ofstream(config + "/comtest/ports") << "# kept by hand\n";
    constexpr int kDevicesEach = 15;
    std::vector<pid_t> writers;
    for (const std::string writer : { "a", "b" }) {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string tree = folder.path + "/" + writer;
            for (int i = 0; i < kDevicesEach; ++i) { // one more device at each look-up
                const std::string number = std::to_string(i);
                buildTree(
                    tree, deviceEntries("ttyUSB" + number + "=" + writer + number + "@" + number + "9"));
                platform::lookUpComNames({ { tree, tree + "/dev" }, config });
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    const platform::NameRoots reader { { folder.path + "/none", folder.path + "/none" }, config };
    int halfFiles = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (size_t ended = 0; ended < writers.size() && std::chrono::steady_clock::now() < deadline;) {
        halfFiles += !platform::lookUpComNames(reader).warning.empty();
        for (pid_t& pid : writers) {
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = 0;
                ++ended;
            }
        }
    }
    EXPECT_EQ(halfFiles, 0) << "a reader saw a file that did not parse";
    const platform::ComNameTable names = platform::lookUpComNames(reader);
    EXPECT_EQ(names.names.size(), 2u * kDevicesEach) << "a name for each device";
    EXPECT_EQ(names.names.rbegin()->first, 2u * kDevicesEach) << "the numbers 1 to 30, each once";
    EXPECT_EQ(folder.sh("cd config/comtest && head -1 ports && ls -A"), "# kept by hand\nports\nports.lock\n")
        << "the comment kept and no temporary file left";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
