#include "platform/discovery/DeviceInventory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string firstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

bool present(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

fs::path resolved(const fs::path& path)
{
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return error ? fs::path() : real;
}

// The serial core (kernel 6.5 on) puts "port" and "ctrl" devices of its own between the tty and
// the hardware; their drivers say nothing of the hardware.
bool isSerialCoreDriver(const fs::path& driverLink)
{
    std::error_code error;
    return fs::read_symlink(driverLink, error).string().find("/serial-base/") != std::string::npos;
}

void describeHardware(const fs::path& classDir, const InventoryRoots& roots, SerialDeviceInfo& info)
{
    // Only the devices tree is walked: above it lie no devices.
    const std::string devicesRoot = resolved(fs::path(roots.sys) / "devices").string() + "/";
    std::string port; // the usb-serial port lies below its interface
    for (fs::path dir = resolved(classDir / "device");
         dir.has_relative_path() && dir.string().rfind(devicesRoot, 0) == 0; dir = dir.parent_path()) {
        if (info.driver.empty() && present(dir / "driver") && !isSerialCoreDriver(dir / "driver"))
            info.driver = resolved(dir / "driver").filename().string();
        if (info.usbId.empty() && present(dir / "idVendor") && present(dir / "idProduct")) {
            info.usbId = firstLine(dir / "idVendor") + ":" + firstLine(dir / "idProduct");
            info.serial = firstLine(dir / "serial");
        }
        if (info.usbInterface.empty() && present(dir / "bInterfaceNumber"))
            info.usbInterface = firstLine(dir / "bInterfaceNumber") + port;
        if (port.empty() && present(dir / "port_number"))
            port = " port " + firstLine(dir / "port_number");
    }
}

// Each device node's first link, in name order, under <dev>/serial/<folder>: read once for all the
// devices, since a machine may have hundreds.
class StableNames {
public:
    StableNames(const InventoryRoots& roots, const char* folder)
    {
        std::error_code error;
        std::vector<std::string> links;
        for (const auto& link : fs::directory_iterator(fs::path(roots.dev) / "serial" / folder, error))
            links.push_back(link.path().string());
        std::sort(links.begin(), links.end());
        for (const auto& link : links)
            firstLink_.emplace(resolved(link), link);
    }
    std::string of(const std::string& devicePath) const
    {
        const auto it = firstLink_.find(resolved(devicePath));
        return it == firstLink_.end() || it->first.empty() ? std::string() : it->second;
    }

private:
    std::map<fs::path, std::string> firstLink_;
};

// An 8250 node without a UART behind it reports the type 0 (PORT_UNKNOWN).
bool lacksUart(const fs::path& classDir)
{
    return classDir.filename().string().rfind("ttyS", 0) == 0 && firstLine(classDir / "type") == "0";
}

// "ttyS10" after "ttyS2": the text part first, then the number that ends the name.
bool naturalLess(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
            --digits;
        const std::string number = name.substr(digits);
        return std::make_pair(
            name.substr(0, digits), number.empty() || number.size() > 9 ? -1 : std::stoi(number));
    };
    return split(a) < split(b);
}

} // namespace

std::vector<SerialDeviceInfo> serialDevices(const InventoryRoots& roots)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(roots.sys) / "class" / "tty", error))
        if (present(entry.path() / "device") && !lacksUart(entry.path()))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), naturalLess);
    std::vector<SerialDeviceInfo> devices;
    const StableNames byId(roots, "by-id");
    const StableNames byPath(roots, "by-path");
    for (const auto& name : names) {
        SerialDeviceInfo info;
        info.device = roots.dev + "/" + name;
        describeHardware(fs::path(roots.sys) / "class" / "tty" / name, roots, info);
        info.byId = byId.of(info.device);
        info.byPath = byPath.of(info.device);
        devices.push_back(info);
    }
    return devices;
}

bool isPseudoTerminalMajor(unsigned deviceMajor)
{
    // Unix98 pty slaves (/dev/pts/N) have these majors.
    return deviceMajor >= 136 && deviceMajor <= 143;
}

SerialDeviceInfo describeDevice(const std::string& devicePath, const InventoryRoots& roots)
{
    SerialDeviceInfo info;
    info.device = devicePath;
    struct stat node { };
    if (stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return info;
    const unsigned deviceMajor = major(node.st_rdev);
    if (isPseudoTerminalMajor(deviceMajor)) {
        info.driver = "pty";
        return info;
    }
    const fs::path classDir = resolved(fs::path(roots.sys) / "dev" / "char"
        / (std::to_string(deviceMajor) + ":" + std::to_string(minor(node.st_rdev))));
    if (!classDir.empty()) {
        describeHardware(classDir, roots, info);
        info.noUart = lacksUart(classDir);
    }
    info.byId = StableNames(roots, "by-id").of(devicePath);
    info.byPath = StableNames(roots, "by-path").of(devicePath);
    return info;
}

bool sameDevice(const std::string& a, const std::string& b)
{
    struct stat first { };
    struct stat second { };
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0)
        return false;
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode))
        return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace platform
