#include "platform/registry/PortRegistry.h"

namespace platform {

constexpr char kSerialNodePrefix[] = "/dev/ttyS";

PortRegistry& PortRegistry::instance()
{
    static PortRegistry registry;
    return registry;
}

std::optional<unsigned> PortRegistry::comNumber(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || name[3] == '0')
        return std::nullopt;
    unsigned long value = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(name[i] - '0');
        if (value > 1000000) // no machine has that many ports; keeps the arithmetic bounded
            return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

void PortRegistry::mapComPort(unsigned number, const std::string& devicePath)
{
    std::lock_guard lock(mutex_);
    mappings_[number] = devicePath;
}

std::optional<std::string> PortRegistry::deviceFor(const std::string& portName) const
{
    const auto number = comNumber(portName);
    if (!number)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (auto it = mappings_.find(*number); it != mappings_.end())
        return it->second;
    return kSerialNodePrefix + std::to_string(*number - 1);
}

std::optional<unsigned> PortRegistry::defaultComNumber(const std::string& devicePath)
{
    if (!devicePath.starts_with(kSerialNodePrefix))
        return std::nullopt;
    const std::string index = devicePath.substr(sizeof kSerialNodePrefix - 1);
    if (index == "0")
        return 1;
    const auto number = comNumber("COM" + index); // the same digits rule: no sign, no leading zero
    return number ? std::optional<unsigned>(*number + 1) : std::nullopt;
}

std::map<unsigned, std::string> PortRegistry::explicitMappings() const
{
    std::lock_guard lock(mutex_);
    return mappings_;
}

void PortRegistry::noteHeld(int handle, const std::string& device, const std::string& lockFile)
{
    std::lock_guard lock(mutex_);
    held_[handle] = { device, lockFile };
}

void PortRegistry::noteReleased(int handle)
{
    std::lock_guard lock(mutex_);
    held_.erase(handle);
}

std::optional<std::string> PortRegistry::lockFileOf(int handle) const
{
    std::lock_guard lock(mutex_);
    if (auto it = held_.find(handle); it != held_.end())
        return it->second.second;
    return std::nullopt;
}

std::optional<std::string> PortRegistry::deviceOf(int handle) const
{
    std::lock_guard lock(mutex_);
    if (auto it = held_.find(handle); it != held_.end())
        return it->second.first;
    return std::nullopt;
}

void PortRegistry::noteLockFile(const std::string& path, const OwnLockFile& file)
{
    std::lock_guard lock(mutex_);
    lockFiles_[path] = file;
}

std::optional<PortRegistry::OwnLockFile> PortRegistry::lockFile(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    if (auto it = lockFiles_.find(path); it != lockFiles_.end())
        return it->second;
    return std::nullopt;
}

void PortRegistry::forgetLockFile(const std::string& path)
{
    std::lock_guard lock(mutex_);
    lockFiles_.erase(path);
}

void PortRegistry::reset()
{
    std::lock_guard lock(mutex_);
    mappings_.clear();
    held_.clear();
}

} // namespace platform
