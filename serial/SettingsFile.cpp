#include "serial/SettingsFile.h"

#include <cstring>

#include <algorithm>

namespace settings_file {

namespace {

constexpr size_t kParityByte = 1;
constexpr size_t kByteSizeByte = 2;
constexpr size_t kStopBitsByte = 3;
constexpr size_t kBaudRateByte = 4;
constexpr size_t kBlockOffset = kHeaderSize;
constexpr size_t kPortNameOffset = kBlockOffset + kBlockSize;

} // namespace

Block storeSettings(const Block& block, const LineSettings& settings)
{
    Block result = block;
    result[kParityByte] = settings.parity;
    result[kByteSizeByte] = settings.byteSize;
    result[kStopBitsByte] = settings.stopBits;
    for (size_t i = 0; i < 4; ++i)
        result[kBaudRateByte + i] = static_cast<uint8_t>(settings.baudRate >> (8 * i));
    return result;
}

FileBytes encode(const LineSettings& settings, const Block& block)
{
    FileBytes file {};
    std::copy(kHeaderText.begin(), kHeaderText.end(), file.begin());
    const Block stored = storeSettings(block, settings);
    std::copy(stored.begin(), stored.end(), file.begin() + kBlockOffset);
    const size_t nameLength = std::min(settings.portName.size(), kPortNameSize);
    std::memcpy(file.data() + kPortNameOffset, settings.portName.data(), nameLength);
    return file;
}

bool hasHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kHeaderSize || bytes[kHeaderText.size()] != 0)
        return false;
    return std::equal(kHeaderText.begin(), kHeaderText.end(), bytes.begin(),
        [](char expected, uint8_t actual) { return static_cast<uint8_t>(expected) == actual; });
}

std::optional<Loaded> decode(std::span<const uint8_t> bytes)
{
    if (!hasHeader(bytes) || bytes.size() < kFileSize)
        return std::nullopt;
    Loaded loaded;
    std::copy_n(bytes.begin() + kBlockOffset, kBlockSize, loaded.block.begin());
    LineSettings& settings = loaded.settings;
    settings.parity = loaded.block[kParityByte];
    settings.byteSize = loaded.block[kByteSizeByte];
    settings.stopBits = loaded.block[kStopBitsByte];
    settings.baudRate = 0;
    for (size_t i = 0; i < 4; ++i)
        settings.baudRate |= static_cast<uint32_t>(loaded.block[kBaudRateByte + i]) << (8 * i);
    const auto name = bytes.subspan(kPortNameOffset, kPortNameSize);
    const auto end = std::find(name.begin(), name.end(), uint8_t { 0 });
    settings.portName.assign(name.begin(), end);
    return loaded;
}

} // namespace settings_file
