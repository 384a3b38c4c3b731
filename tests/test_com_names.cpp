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

namespace fs = std::filesystem;

// The tree entries of one device: "ttyS1" a UART, "ttyS3-" a node without one, "ttyAMA0" another
// tty, "ttyUSB0=SERIAL@PORT.INTERFACE" an FTDI adapter's port ("=@2": no serial number).
std::string deviceEntries(const std::string& spec)
{
    std::smatch usb;
    const std::string name = spec.substr(0, spec.find_first_of("-="));
    const std::string node = "dev/" + name + "=node class/tty/" + name + "/device=/";
    if (!std::regex_match(spec, usb, std::regex(R"(ttyUSB\d+=(\w*)@(\d+)\.?(\d?))")))
        return node + "devices/uart class/tty/" + name + "/type=" + (spec.ends_with('-') ? "0" : "4");
    const std::string number = usb.str(3).empty() ? "0" : usb.str(3);
    const std::string device = "devices/1-" + usb.str(2);
    const std::string port = device + "/1-" + usb.str(2) + ":1." + number + "/" + name;
    std::string entries
        = node + port + " " + port + "/port_number=0 " + port + "/../bInterfaceNumber=0" + number;
    entries += " " + device + "/idVendor=0403 " + device + "/idProduct=6001";
    entries += " dev/serial/by-path/pci-usb-0:" + usb.str(2) + ":1." + number + "-port0=/dev/" + name;
    if (!usb.str(1).empty())
        entries += " " + device + "/serial=" + usb.str(1) + " dev/serial/by-id/usb-FTDI_" + usb.str(1)
            + "-if0" + number + "-port0=/dev/" + name;
    return entries;
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

// The roots for a row's "file before": its text, "<folder>" a folder in its place, "<read-only>" no
// folder that can be made, "<none>" no home at all.
platform::NameRoots rootsFor(const std::string& before, Folder& folder)
{
    folder.sh("mkdir -p config/comtest/" + std::string(before == "<folder>" ? "ports" : ""));
    if (before != "-" && !before.starts_with('<'))
        std::ofstream(folder.path + "/config/comtest/ports")
            << std::regex_replace(before, std::regex("¶"), "\n") << "\n";
    const std::string config
        = before == "<none>" ? "" : folder.path + (before == "<read-only>" ? "/tree/dev/ttyUSB0" : "/config");
    return { { folder.path + "/tree", folder.path + "/tree/dev" }, config };
}

// The devices of each step ("ttyAMA*3": ttyAMA0 to ttyAMA2) looked up in turn: the names after each
// step, " / " between them, and the last warning, "~" standing for the configuration folder.
std::pair<std::string, std::string> lookUpSteps(const platform::NameRoots& roots, const std::string& steps)
{
    std::string names;
    std::string warning;
    std::istringstream in(steps);
    for (std::string step; std::getline(in, step, '/');) {
        fs::remove_all(roots.tree.sys);
        for (std::istringstream devices(step); devices >> step;) {
            const size_t star = step.find('*');
            for (size_t i = 0; i < (star == step.npos ? 1 : std::stoul(step.substr(star + 1))); ++i)
                buildTree(roots.tree.sys,
                    deviceEntries(star == step.npos ? step : step.substr(0, star) + std::to_string(i)));
        }
        const platform::ComNameTable table = platform::lookUpComNames(roots);
        names += (names.empty() ? "" : " / ") + namesIn(table, roots.tree.dev);
        warning = roots.configFolder.empty()
            ? table.warning
            : std::regex_replace(table.warning, std::regex(roots.configFolder), "~");
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
UARTs keep COMn and need no record | - | ttyS0 ttyS1 ttyS2- ttyS3- | COM1:ttyS0 COM2:ttyS1 | - | -
a laptop's first adapter is COM1 | - | ttyS0- ttyS1- ttyUSB0=A1@2 | COM1:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0 | -
beside UARTs, the lowest free number | - | ttyS0 ttyS1 ttyS3- ttyUSB0=A1@2 | COM1:ttyS0 COM2:ttyS1 COM3:ttyUSB0 | COM3 by-id usb-FTDI_A1-if00-port0 | -
an adapter keeps its name on any plug, another gets another | - | ttyUSB0=A1@2 / ttyUSB0=B2@3 / ttyUSB0=B2@2 ttyUSB1=A1@3 | COM1:ttyUSB0 / COM1:serial/by-id/usb-FTDI_A1-if00-port0 COM2:ttyUSB0 / COM1:ttyUSB1 COM2:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0;COM2 by-id usb-FTDI_B2-if00-port0 | -
the ports of one chip stay apart | - | ttyUSB0=F4@2.0 ttyUSB1=F4@2.1 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-id usb-FTDI_F4-if00-port0;COM2 by-id usb-FTDI_F4-if01-port0 | -
without a serial number the place counts | - | ttyUSB0=@2 / ttyUSB0=@3 / ttyUSB0=@2 | COM1:ttyUSB0 / COM1:serial/by-path/pci-usb-0:2:1.0-port0 COM2:ttyUSB0 / COM1:ttyUSB0 COM2:serial/by-path/pci-usb-0:3:1.0-port0 | COM1 by-path pci-usb-0:2:1.0-port0;COM2 by-path pci-usb-0:3:1.0-port0 | -
clones of one serial number go by place | - | ttyUSB0=C1@2 ttyUSB1=C1@3 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-path pci-usb-0:2:1.0-port0;COM2 by-path pci-usb-0:3:1.0-port0 | -
a record outlives its device and a UART behind its node | COM2 by-id usb-FTDI_A1-if00-port0 | ttyS0 ttyS1 ttyAMA0 | COM1:ttyS0 COM2:serial/by-id/usb-FTDI_A1-if00-port0 COM3:ttyAMA0 COM4:ttyS1 | COM2 by-id usb-FTDI_A1-if00-port0;COM3 tty ttyAMA0;COM4 tty ttyS1 | -
garbage: its good lines stand, it is never written | COM1 tty ttyAMA0¶bogus¶COM2 tty ttyAMA1 | ttyAMA0 ttyUSB0=B2@2 | COM1:ttyAMA0 COM2:ttyAMA1 COM3:ttyUSB0 | COM1 tty ttyAMA0;bogus;COM2 tty ttyAMA1 | comtest: COM names given now hold for this run only (~/comtest/ports: line 2: expected "COMn by-id|by-path|tty NAME")
a number named twice: the first line holds | COM1 tty ttyAMA0¶COM1 tty ttyAMA1 | ttyAMA1 | COM1:ttyAMA0 COM2:ttyAMA1 | COM1 tty ttyAMA0;COM1 tty ttyAMA1 | ...line 2: COM1 is named twice)
a device named twice: the first line holds | COM1 tty ttyAMA0¶COM2 tty ttyAMA0 | ttyUSB0=@2 | COM1:ttyAMA0 COM2:ttyUSB0 | COM1 tty ttyAMA0;COM2 tty ttyAMA0 | ...line 2: tty ttyAMA0 has two names)
a file that cannot be read | <folder> | ttyUSB0=A1@2 | COM1:ttyUSB0 | - | ...(~/comtest/ports: cannot be read)
a home that cannot be written | <read-only> | ttyUSB0=A1@2 | COM1:ttyUSB0 | - | ...(~/comtest/ports: cannot be written)
no home at all | <none> | ttyUSB0=A1@2 | COM1:ttyUSB0 | - | ...(~/.config: no home folder)
more than 256 devices | - | ttyAMA*257 | ...COM256:ttyAMA255 COM257:ttyAMA256 | ...COM256 tty ttyAMA255;COM257 tty ttyAMA256 | -)")) {
        SCOPED_TRACE(row[0]);
        Folder folder;
        const auto [names, warning] = lookUpSteps(rootsFor(row[1], folder), row[2]);
        EXPECT_PRED2(matches, names, row[3]) << "the names of the devices";
        const std::string records = folder.sh("grep -sv '^#' config/comtest/ports | paste -sd';' -");
        EXPECT_PRED2(matches, records, row[4] == "-" ? "\n" : row[4] + "\n")
            << "the file's lines but comments";
        EXPECT_PRED2(matches, warning, row[5] == "-" ? "" : row[5]) << "the warning";
    }
}

// Two processes name devices of their own at once while this one reads the file.
TEST(ComNames, TwoWritersAtOnceKeepEveryNameAndReadersSeeWholeFiles)
{
    Folder folder;
    const std::string config = folder.path + "/config";
    folder.sh("mkdir -p config/comtest && echo '# kept by hand' > config/comtest/ports");
    constexpr size_t kDevicesEach = 12;
    for (const std::string writer : { "a", "b" }) {
        if (fork() == 0) {
            const std::string tree = folder.path + "/" + writer;
            for (const std::string i : { "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12" }) {
                buildTree(
                    tree, deviceEntries("ttyUSB" + i + "=" + writer + i + "@" + i)); // one more each time
                platform::lookUpComNames({ { tree, tree + "/dev" }, config });
            }
            _exit(0);
        }
    }
    const platform::NameRoots reader { { folder.path + "/none", folder.path + "/none" }, config };
    int halfFiles = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int ended = 0; ended < 2 && std::chrono::steady_clock::now() < deadline;) {
        halfFiles += !platform::lookUpComNames(reader).warning.empty();
        ended += waitpid(-1, nullptr, WNOHANG) > 0;
    }
    EXPECT_EQ(halfFiles, 0) << "a reader saw a file that did not parse";
    const platform::ComNameTable names = platform::lookUpComNames(reader);
    EXPECT_EQ(names.names.size(), 2u * kDevicesEach) << "a name for each device";
    EXPECT_EQ(names.names.rbegin()->first, 2u * kDevicesEach) << "the numbers 1 to 24, each once";
    EXPECT_EQ(folder.sh("cd config/comtest && head -1 ports && ls -A"), "# kept by hand\nports\nports.lock\n")
        << "the comment kept and no temporary file left";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
