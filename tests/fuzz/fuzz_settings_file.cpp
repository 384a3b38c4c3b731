// Fuzzes the settings file reader and, on what it accepts, the writer (the input on the heap for ASan).
#include "serial/SettingsFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace settings_file;

static void require(bool holds, const char* what)
{
    if (!holds)
        std::fprintf(stderr, "settings file fuzz check failed: %s\n", what), std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    const bool header = std::string_view((char*)data, size).starts_with(std::string(kHeaderText) + '\0');
    require(hasHeader(bytes) == header, "the header test matches the header");
    const auto loaded = decode(bytes);
    require(loaded.has_value() == (header && size >= kFileSize), "accepted exactly when the layout is there");
    if (!loaded)
        return 0;
    require(std::equal(loaded->block.begin(), loaded->block.end(), data + kHeaderSize), "the file's block");
    const std::string& name = loaded->settings.portName;
    require(name.size() <= kPortNameSize && name.find('\0') == std::string::npos, "the name ends at a zero");
    FileBytes expected {}; // the first bytes; port name bytes after a zero byte come back as zero
    std::copy_n(data, kFileSize, expected.begin());
    std::fill(std::find(expected.begin() + kHeaderSize + kBlockSize, expected.end(), 0), expected.end(), 0);
    require(encode(loaded->settings, loaded->block) == expected, "saving what was read gives the file back");
    return 0;
}
