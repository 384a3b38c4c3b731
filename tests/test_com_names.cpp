// The COM names of the devices in a fake /sys and /dev, and their file, written by real processes.
#include "platform/discovery/ComNames.h"
#include "support/FolderContents.h"
#include "support/ParseArguments.h"

#include <gtest/gtest.h>

#include <chrono>
#include <pwd.h>
#include <sys/wait.h>

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

// The roots for "file before": its text; "<folder>": a folder in its place; "<read-only>": no folder.
platform::NameRoots rootsFor(const std::string& before, Folder& folder)
{
    folder.sh("mkdir -p config/comtest/" + std::string(before == "<folder>" ? "ports" : ""));
    if (before != "-" && !before.starts_with('<'))
        folder.sh("printf '" + before + "\\n' > config/comtest/ports");
    const std::string config = before == "<read-only>" ? "/tree/dev/ttyUSB0" : "/config"; // below a file
    return { { folder.path + "/tree", folder.path + "/tree/dev" }, folder.path + config };
}

// Each step's devices looked up in turn: the names after each ("COM2:ttyUSB0"; "?": absent), the last
// warning.
std::pair<std::string, std::string> lookUpSteps(const platform::NameRoots& roots, const std::string& steps)
{
    std::string names;
    platform::ComNameTable table;
    std::istringstream in(steps);
    for (std::string step; std::getline(in, step, '/');) {
        std::filesystem::remove_all(roots.tree.sys);
        for (std::istringstream devices(step); devices >> step;)
            buildTree(roots.tree.sys, deviceEntries(step));
        table = platform::lookUpComNames(roots);
        names += names.empty() ? "" : " /";
        for (const auto& [number, named] : table.names) // where each name's device is or would be
            names += " COM" + std::to_string(number) + ":" + named.device.substr(roots.tree.dev.size() + 1)
                + (named.present ? "" : "?");
    }
    return { names.substr(1), table.warning };
}

TEST(ComNames, EveryDeviceGetsANameThatStaysWithIt)
{
    // what holds | file before | devices at each look-up (" / " between) | names | records after | warning
    for (const auto& row : rowsOf(R"(
a laptop's first adapter is COM1 | - | ttyS0- ttyS1- ttyUSB0=A1@2 | COM1:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0 | -
UARTs keep COMn unrecorded, an adapter takes the lowest free number | - | ttyS0 ttyS1 ttyS2- ttyS3- ttyUSB0=A1@2 | COM1:ttyS0 COM2:ttyS1 COM3:ttyUSB0 | COM3 by-id usb-FTDI_A1-if00-port0 | -
an adapter keeps its name on any plug, another gets another | - | ttyUSB0=A1@2 / ttyUSB0=B2@3 / ttyUSB0=B2@2 ttyUSB1=A1@3 | COM1:ttyUSB0 / COM1:serial/by-id/usb-FTDI_A1-if00-port0? COM2:ttyUSB0 / COM1:ttyUSB1 COM2:ttyUSB0 | COM1 by-id usb-FTDI_A1-if00-port0;COM2 by-id usb-FTDI_B2-if00-port0 | -
the ports of one chip stay apart | - | ttyUSB0=F4@2.0 ttyUSB1=F4@2.1 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-id usb-FTDI_F4-if00-port0;COM2 by-id usb-FTDI_F4-if01-port0 | -
without a serial number the place counts | - | ttyUSB0=@2 / ttyUSB0=@3 / ttyUSB0=@2 | COM1:ttyUSB0 / COM1:serial/by-path/pci-usb-0:2:1.0-port0? COM2:ttyUSB0 / COM1:ttyUSB0 COM2:serial/by-path/pci-usb-0:3:1.0-port0? | COM1 by-path pci-usb-0:2:1.0-port0;COM2 by-path pci-usb-0:3:1.0-port0 | -
clones of one serial number go by place | - | ttyUSB0=C1@2 ttyUSB1=C1@3 | COM1:ttyUSB0 COM2:ttyUSB1 | COM1 by-path pci-usb-0:2:1.0-port0;COM2 by-path pci-usb-0:3:1.0-port0 | -
a record outlives its device and a UART behind its node | COM2 by-id usb-FTDI_A1-if00-port0 | ttyS0 ttyS1 ttyAMA0 | COM1:ttyS0 COM2:serial/by-id/usb-FTDI_A1-if00-port0? COM3:ttyAMA0 COM4:ttyS1 | COM2 by-id usb-FTDI_A1-if00-port0;COM3 tty ttyAMA0;COM4 tty ttyS1 | -
garbage: its good lines stand, it is never written | COM1 tty ttyAMA0\nLPT2 tty ttyAMA2\nCOM2 tty ttyAMA1 | ttyAMA0 ttyUSB0=B2@2 | COM1:ttyAMA0 COM2:ttyAMA1? COM3:ttyUSB0 | COM1 tty ttyAMA0;LPT2 tty ttyAMA2;COM2 tty ttyAMA1 | comtest: COM names given now hold for this run only (~/config/comtest/ports: line 2: expected "COMn by-id|by-path|tty NAME")
a name or a device twice: the first line holds | COM1 tty ttyAMA0\nCOM1 tty ttyAMA1\nCOM2 tty ttyAMA0 | ttyAMA1 | COM1:ttyAMA0? COM2:ttyAMA1 | COM1 tty ttyAMA0;COM1 tty ttyAMA1;COM2 tty ttyAMA0 | comtest: COM names given now hold for this run only (~/config/comtest/ports: line 2: COM1 is named twice)
a kind that is none | COM1 usb ttyAMA0 | ttyAMA0 | COM1:ttyAMA0 | COM1 usb ttyAMA0 | comtest: COM names given now hold for this run only (~/config/comtest/ports: line 1: "usb" is not by-id, by-path or tty)
a name that is a path | COM2 tty ../ttyAMA0 | ttyAMA0 | COM1:ttyAMA0 | COM2 tty ../ttyAMA0 | comtest: COM names given now hold for this run only (~/config/comtest/ports: line 1: "../ttyAMA0" is not a name in /dev)
a file that cannot be read | <folder> | ttyUSB0=A1@2 | COM1:ttyUSB0 | - | comtest: COM names given now hold for this run only (~/config/comtest/ports: cannot be read)
a home that cannot be written | <read-only> | ttyUSB0=A1@2 | COM1:ttyUSB0 | - | comtest: COM names given now hold for this run only (~/tree/dev/ttyUSB0/comtest/ports: cannot be written))")) {
        SCOPED_TRACE(row[0]);
        Folder folder;
        const auto found = lookUpSteps(rootsFor(row[1], folder), row[2]);
        EXPECT_EQ(found.first, row[3]) << "the names of the devices";
        const std::string records = folder.sh("grep -sv '^#' config/comtest/ports | paste -sd';' -");
        EXPECT_EQ(records, row[4] == "-" ? "\n" : row[4] + "\n") << "the file's lines but comments";
        const std::string warning = std::regex_replace(found.second, std::regex(folder.path), "~");
        EXPECT_EQ(warning, row[5] == "-" ? "" : row[5]) << "the warning, ~ for the test's folder";
    }
}

// Three processes name devices of their own at once while this one reads the file.
TEST(ComNames, WritersAtOnceKeepEveryNameAndReadersSeeWholeFiles)
{
    Folder folder;
    folder.sh("mkdir -p config/comtest && echo '# kept by hand' > config/comtest/ports");
    for (const std::string writer : { "a", "b", "c" })
        if (fork() == 0) {
            const std::string tree = folder.path + "/" + writer;
            for (int n = 1; n <= 30; ++n) {
                const std::string i = std::to_string(n); // one more device each time
                buildTree(tree, deviceEntries("ttyUSB" + i + "=" + writer + i + "@" + i));
                platform::lookUpComNames({ { tree, tree + "/dev" }, folder.path + "/config" });
            }
            _exit(0);
        }
    const platform::NameRoots reader { { "/nonexistent", "/nonexistent" }, folder.path + "/config" };
    int halfFiles = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int ended = 0; ended < 3 && std::chrono::steady_clock::now() < deadline;) {
        halfFiles += !platform::lookUpComNames(reader).warning.empty();
        ended += waitpid(-1, nullptr, WNOHANG) > 0;
    }
    EXPECT_EQ(halfFiles, 0) << "a reader saw a file that did not parse";
    const platform::ComNameTable names = platform::lookUpComNames(reader);
    EXPECT_EQ(names.names.size(), 90u) << "a name for each of the 30 devices of each writer";
    EXPECT_EQ(names.names.rbegin()->first, 90u) << "the numbers 1 to 90, each once";
    EXPECT_EQ(folder.sh("cd config/comtest && head -1 ports && ls -A"), "# kept by hand\nports\nports.lock\n")
        << "the comment kept and no temporary file left";
}

// The file's folder: XDG_CONFIG_HOME when it is absolute, else HOME's .config, else the account's.
TEST(ComNames, TheFileLivesInTheUsersConfigFolder)
{
    const std::string account = std::string(getpwuid(getuid())->pw_dir) + "/.config";
    const std::tuple<const char*, const char*, std::string> rows[] { { "/x", "/h", "/x" },
        { "x", "/h", "/h/.config" }, { nullptr, "h", account }, { "", nullptr, account } }; // nullptr: unset
    for (const auto& [xdg, home, folder] : rows) {
        xdg ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        home ? setenv("HOME", home, 1) : unsetenv("HOME");
        EXPECT_EQ(platform::systemNameRoots().configFolder, folder) << (xdg ? xdg : "unset");
    }
}
