#include "platform/registry/PortRegistry.h"

namespace platform {

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
    return "/dev/ttyS" + std::to_string(*number - 1);
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

std::map<int, std::string> PortRegistry::heldLockFiles() const
{
    std::lock_guard lock(mutex_);
    std::map<int, std::string> files;
    for (const auto& [handle, entry] : held_)
        if (!entry.second.empty())
            files[handle] = entry.second;
    return files;
}

void PortRegistry::reset()
{
    std::lock_guard lock(mutex_);
    mappings_.clear();
    held_.clear();
}

} // namespace platform
