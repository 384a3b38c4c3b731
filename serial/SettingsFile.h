// The settings file: a fixed header with its zero byte, the 256-byte settings block and four bytes
// of port name, 296 bytes in all.
//
// Block bytes 1 to 7 carry the line settings (parity code, data bits, stop-bit code, baud rate as
// an unsigned 32-bit integer, least significant byte first). The other block bytes belong to nobody
// here: they are carried from file to block and back untouched. The port name field holds up to four
// characters, padded with zero bytes; a name is read up to its first zero byte.
//
// Nothing here touches a window or a file, so that the format can be tested and fuzzed on its own.
#pragma once

#include "platform/tty/LineSettings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace settings_file {

// A file-format constant: the first bytes of every settings file, followed by a zero byte.
inline constexpr std::string_view kHeaderText = "Velmora RS232 Interface Debug Tools";
inline constexpr size_t kHeaderSize = kHeaderText.size() + 1;
inline constexpr size_t kBlockSize = 256;
inline constexpr size_t kPortNameSize = 4;
inline constexpr size_t kFileSize = kHeaderSize + kBlockSize + kPortNameSize;

using Block = std::array<uint8_t, kBlockSize>;
using FileBytes = std::array<uint8_t, kFileSize>;

using platform::LineSettings;

// What a file holds: its whole block and the settings read from it, unchecked against any list.
struct Loaded {
    Block block {};
    LineSettings settings;
};

// The block with bytes 1 to 7 taken from settings; every other byte as given.
Block storeSettings(const Block& block, const LineSettings& settings);

// The whole file for settings over block (see storeSettings); a longer port name keeps its first
// four characters.
FileBytes encode(const LineSettings& settings, const Block& block);

// Whether the port name fits the file whole: "COM10" would be stored as "COM1", another port.
inline bool portNameFits(const std::string& name)
{
    return name.size() <= kPortNameSize;
}

// True when bytes begin with the header text and its zero byte, exactly (same case, same length).
bool hasHeader(std::span<const uint8_t> bytes);

// The contents of a file; nothing when the header does not match or the file ends before its
// port name field does. Bytes past the port name field are ignored.
std::optional<Loaded> decode(std::span<const uint8_t> bytes);

} // namespace settings_file
