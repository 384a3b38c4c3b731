#include "platform/discovery/ComNames.h"

#include "platform/files/SharedTextFile.h"
#include "platform/registry/PortRegistry.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <pwd.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace {

constexpr size_t kMaxFileSize = 1 << 20; // tens of thousands of names
constexpr const char* kFileHeader
    = "# comtest COM names, one line per name: COMn by-id|by-path|tty NAME (see comtest(1)).\n"
      "# A device keeps its name while its line stands; delete the line to free the number.\n";

std::string baseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

struct Device {
    std::string node;
    std::string identity; // "by-id usb-...", "by-path pci-...", "tty ttyAMA0"
    std::optional<unsigned> uartNumber; // n for /dev/ttyS<n-1>
};

bool isClone(const SerialDeviceInfo& info, const std::vector<SerialDeviceInfo>& all)
{
    for (const auto& other : all)
        if (&other != &info && other.usbId == info.usbId && other.serial == info.serial
            && other.usbInterface == info.usbInterface)
            return true;
    return false;
}

std::vector<Device> presentDevices(const InventoryRoots& roots)
{
    const std::vector<SerialDeviceInfo> infos = serialDevices(roots);
    std::vector<Device> devices;
    for (const auto& info : infos) {
        const std::string kernelName = baseName(info.device);
        Device device { info.device, "tty " + kernelName,
            PortRegistry::defaultComNumber("/dev/" + kernelName) };
        const bool uart = device.uartNumber.has_value(); // known by its kernel name, as COMn is
        if (!uart && !info.serial.empty() && !info.byId.empty() && !isClone(info, infos))
            device.identity = "by-id " + baseName(info.byId);
        else if (!uart && !info.byPath.empty())
            device.identity = "by-path " + baseName(info.byPath);
        devices.push_back(device);
    }
    return devices;
}

struct Records {
    std::map<unsigned, std::string> identityOf;
    std::map<std::string, unsigned> numberOf;
    std::string problem; // the first line that cannot be taken, and why
};

std::string lineProblem(const std::vector<std::string>& words, const Records& records)
{
    if (words.size() != 3 || !PortRegistry::comNumber(words[0]))
        return "expected \"COMn by-id|by-path|tty NAME\"";
    if (words[1] != "by-id" && words[1] != "by-path" && words[1] != "tty")
        return "\"" + words[1] + "\" is not by-id, by-path or tty";
    if (words[2].find('/') != std::string::npos || words[2] == "." || words[2] == "..")
        return "\"" + words[2] + "\" is not a name in /dev";
    if (records.identityOf.contains(*PortRegistry::comNumber(words[0])))
        return words[0] + " is named twice";
    if (records.numberOf.contains(words[1] + " " + words[2]))
        return words[1] + " " + words[2] + " has two names";
    return {};
}

Records parseRecords(const std::string& text)
{
    Records records;
    std::istringstream lines(text);
    int lineNumber = 0;
    for (std::string line; std::getline(lines, line);) {
        ++lineNumber;
        std::istringstream in(line);
        std::vector<std::string> words { std::istream_iterator<std::string>(in), {} };
        if (words.empty() || words[0].starts_with('#')) // a device name may hold a '#' itself
            continue;
        if (const std::string problem = lineProblem(words, records); !problem.empty()) {
            if (records.problem.empty())
                records.problem = "line " + std::to_string(lineNumber) + ": " + problem;
            continue;
        }
        const unsigned number = *PortRegistry::comNumber(words[0]);
        records.identityOf[number] = words[1] + " " + words[2];
        records.numberOf[words[1] + " " + words[2]] = number;
    }
    return records;
}

// Where a recorded device would be: its link, or its node.
std::string nodeOf(const std::string& identity, const InventoryRoots& roots)
{
    const size_t blank = identity.find(' ');
    const std::string kind = identity.substr(0, blank);
    const std::string name = identity.substr(blank + 1);
    return roots.dev + (kind == "tty" ? "/" : "/serial/" + kind + "/") + name;
}

// The names for the devices over the records; added gets the lines of the names given anew.
ComNameTable assignNames(const std::vector<Device>& devices, const Records& records,
    const InventoryRoots& roots, std::string& added)
{
    ComNameTable table;
    std::set<unsigned> taken;
    for (const auto& [number, identity] : records.identityOf) {
        table.names[number] = { nodeOf(identity, roots), false };
        taken.insert(number);
    }
    std::vector<const Device*> unnamed;
    for (const auto& device : devices) {
        if (const auto it = records.numberOf.find(device.identity); it != records.numberOf.end())
            table.names[it->second] = { device.node, true };
        else if (device.uartNumber && !taken.contains(*device.uartNumber))
            table.names[*device.uartNumber] = { device.node, true };
        else
            unnamed.push_back(&device);
        if (device.uartNumber)
            taken.insert(*device.uartNumber); // free only without a UART behind its node
    }
    unsigned next = 1;
    for (const Device* device : unnamed) {
        while (taken.contains(next))
            ++next;
        taken.insert(next);
        table.names[next] = { device->node, true };
        added += "COM" + std::to_string(next) + " " + device->identity + "\n";
    }
    return table;
}

std::string forThisRun(const std::string& path, const std::string& reason)
{
    return "comtest: COM names given now hold for this run only (" + path + ": " + reason + ")";
}

} // namespace

NameRoots systemNameRoots()
{
    NameRoots roots;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        roots.configFolder = config;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        roots.configFolder = std::string(home) + "/.config";
    else if (const passwd* user = getpwuid(getuid()); user && user->pw_dir && user->pw_dir[0] == '/')
        roots.configFolder = std::string(user->pw_dir) + "/.config";
    return roots;
}

ComNameTable lookUpComNames(const NameRoots& roots)
{
    const std::vector<Device> devices = presentDevices(roots.tree);
    const std::string path = roots.configFolder + "/comtest/ports";
    const TextFile file = roots.configFolder.empty() ? TextFile {} : readTextFile(path, kMaxFileSize);
    const Records records = parseRecords(file.text);
    std::string added;
    ComNameTable table = assignNames(devices, records, roots.tree, added);
    if (added.empty())
        return table;
    if (roots.configFolder.empty()) {
        table.warning = forThisRun("~/.config", "no home folder");
        return table;
    }
    if (file.state == TextFile::State::Unreadable || !records.problem.empty()) {
        table.warning = forThisRun(path, records.problem.empty() ? "cannot be read" : records.problem);
        return table;
    }
    // Read again under the lock: another process may have named these devices meanwhile.
    bool spoilt = false;
    const bool written
        = updateTextFile(path, kMaxFileSize, [&](const TextFile& current) -> std::optional<std::string> {
              const Records now = parseRecords(current.text);
              spoilt = current.state == TextFile::State::Unreadable || !now.problem.empty();
              if (spoilt)
                  return std::nullopt;
              std::string addedNow;
              table = assignNames(devices, now, roots.tree, addedNow);
              if (addedNow.empty())
                  return std::nullopt;
              std::string text = current.text.empty() ? kFileHeader : current.text;
              return text + (text.ends_with('\n') ? "" : "\n") + addedNow;
          });
    if (!written || spoilt)
        table.warning = forThisRun(path, spoilt ? "changed while it was read" : "cannot be written");
    return table;
}

ComNameTable systemComNames()
{
    static std::atomic<bool> warned { false };
    ComNameTable table = lookUpComNames(systemNameRoots());
    if (!table.warning.empty() && !warned.exchange(true))
        std::cerr << table.warning << "\n";
    return table;
}

std::optional<std::string> deviceForPortName(const std::string& portName)
{
    const auto number = PortRegistry::comNumber(portName);
    if (!number)
        return std::nullopt;
    auto& registry = PortRegistry::instance();
    if (!registry.explicitMappings().contains(*number)) {
        const ComNameTable table = systemComNames();
        if (const auto it = table.names.find(*number); it != table.names.end())
            return it->second.device;
    }
    return registry.deviceFor(portName);
}

std::string comNameOfDevice(const std::string& device, const ComNameTable& table)
{
    const auto mappings = PortRegistry::instance().explicitMappings();
    for (const auto& [number, mapped] : mappings)
        if (mapped == device || sameDevice(mapped, device))
            return "COM" + std::to_string(number);
    for (const auto& [number, named] : table.names)
        if (named.present && !mappings.contains(number)
            && (named.device == device || sameDevice(named.device, device)))
            return "COM" + std::to_string(number);
    return {};
}

std::vector<unsigned> presentComNumbers(const ComNameTable& table)
{
    std::set<unsigned> numbers;
    for (const auto& [number, named] : table.names)
        if (named.present)
            numbers.insert(number);
    for (const auto& [number, mapped] : PortRegistry::instance().explicitMappings())
        if (sameDevice(mapped, mapped)) // it exists
            numbers.insert(number);
    return { numbers.begin(), numbers.end() };
}

} // namespace platform
