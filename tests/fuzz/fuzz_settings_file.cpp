// Fuzzes the settings file loader that Open uses, and the writer that Save uses on what it loaded.
//
// Beyond "no crash" it checks that the loader reads nothing past its input (the input is copied to
// a heap block of exactly its size, so ASan sees any overread), that it accepts exactly the inputs
// that begin with the header and hold the whole block and port name field, and that saving an
// accepted input again gives back its first bytes, except for port name bytes after the name's
// first zero byte, which come back as zero.
#include "serial/SettingsFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

namespace {

using namespace settings_file;

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "settings file fuzz check failed: %s\n", what);
    std::abort();
}

// What the loader should think of the bytes, worked out independently of it.
bool beginsWithHeader(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kHeaderSize
        && std::memcmp(bytes.data(), kHeaderText.data(), kHeaderText.size()) == 0
        && bytes[kHeaderText.size()] == 0;
}

// The first file-size bytes as a save writes them back: port name bytes after its first zero are zero.
FileBytes expectedResave(std::span<const uint8_t> bytes)
{
    FileBytes expected {};
    std::copy_n(bytes.begin(), kFileSize, expected.begin());
    const auto name = expected.begin() + kHeaderSize + kBlockSize;
    const auto firstZero = std::find(name, expected.end(), uint8_t { 0 });
    std::fill(firstZero, expected.end(), uint8_t { 0 });
    return expected;
}

void checkLoaded(std::span<const uint8_t> bytes, const Loaded& loaded)
{
    require(std::equal(loaded.block.begin(), loaded.block.end(), bytes.begin() + kHeaderSize),
        "the block is the file's block");
    const LineSettings& settings = loaded.settings;
    require(settings.portName.size() <= kPortNameSize, "the port name fits its field");
    require(settings.portName.find('\0') == std::string::npos, "the port name ends at its first zero byte");
    const FileBytes saved = encode(settings, loaded.block);
    require(saved == expectedResave(bytes), "saving what was loaded gives the same file back");
    const Block stored = storeSettings(loaded.block, settings);
    require(stored == loaded.block, "storing the loaded settings leaves the block as it was");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A heap copy of exactly the input: ASan reports any read past its end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    const std::span<const uint8_t> bytes(copy.get(), size);

    require(hasHeader(bytes) == beginsWithHeader(bytes), "the header test matches the header");
    const bool acceptable = beginsWithHeader(bytes) && size >= kFileSize;
    const auto loaded = decode(bytes);
    require(
        loaded.has_value() == acceptable, "accepted exactly when the header and the whole layout are there");
    if (loaded)
        checkLoaded(bytes, *loaded);
    return 0;
}
