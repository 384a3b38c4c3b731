// The settings file format, and reading and replacing small files on a real disk.
#include "platform/files/FileAccess.h"
#include "serial/SettingsFile.h"
#include "support/FolderContents.h"

#include <gtest/gtest.h>

#include <csignal>
#include <numeric>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using settings_file::LineSettings;

namespace {

const auto bytesOf = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
const auto descriptors
    = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
const auto decoded = [](const std::string& file) { return settings_file::decode(bytesOf(file)); };
const auto encoded = [](const LineSettings& settings, const settings_file::Block& block = {}) {
    const auto file = settings_file::encode(settings, block);
    return std::string(file.begin(), file.end());
};

// The file the default settings give over an empty block, laid out by hand.
const std::string kWorkedExample = std::string("Velmora RS232 Interface Debug Tools\0", 36)
    + std::string("\x00\x00\x08\x00\x00\x4B\x00\x00", 8) + std::string(248, '\0') + "COM1";

enum class As { Us, Nobody, FullDisk };

// Runs act with the file rights of the user nobody, or with writes past two bytes failing as on
// a full disk.
template <typename Act> auto runAs(As who, Act act)
{
    const rlimit full { 2, RLIM_INFINITY }, none { RLIM_INFINITY, RLIM_INFINITY };
    if (who == As::Nobody)
        ::setfsgid(65534), ::setfsuid(65534);
    if (who == As::FullDisk)
        ::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &full);
    const auto result = act();
    ::setfsuid(::geteuid()), ::setfsgid(::getegid()), ::setrlimit(RLIMIT_FSIZE, &none);
    return result;
}

} // namespace

// The refusals, the worked example, and a round trip that carries the settings as they stand and
// every other block byte.
TEST(SettingsFileFormat, RefusesWhatIsNoWholeSettingsFileAndCarriesTheRest)
{
    const std::string& f = kWorkedExample;
    const auto with = [&f](size_t at, char byte) {
        std::string changed = f;
        changed[at] = byte;
        return changed;
    };
    // Empty, short, another letter case, no zero byte, a shorter header text, cut after the header.
    for (const std::string& bytes : { std::string(), f.substr(0, 35), with(0, 'v'), with(35, ' '),
             with(34, '\0'), f.substr(0, 36), f.substr(0, 200), f.substr(0, 295) })
        EXPECT_FALSE(decoded(bytes).has_value())
            << testing::PrintToString(bytes.substr(0, 40)) << bytes.size();
    EXPECT_EQ(encoded({ 19200, 0, 8, 0, "COM1" }), kWorkedExample);
    settings_file::Block block;
    std::iota(block.rbegin(), block.rend(), uint8_t(0)); // each byte differs from its neighbours
    // Settings, block bytes 1 to 7 and the port name field; the last row has values no list of the
    // dialog has, and a name cut to four bytes.
    const std::tuple<LineSettings, std::string, std::string> rows[] {
        { { 19200, 0, 8, 0, "COM1" }, { "\x00\x08\x00\x00\x4B\x00\x00", 7 }, "COM1" },
        { { 115200, 2, 7, 2, "CO" }, { "\x02\x07\x02\x00\xC2\x01\x00", 7 }, { "CO\0\0", 4 } },
        { { 0xF4030201u, 9, 9, 7, "XY123" }, "\x09\x09\x07\x01\x02\x03\xF4", "XY12" }
    };
    for (const auto& [settings, stored, name] : rows) {
        SCOPED_TRACE(settings.baudRate);
        auto expected = block;
        std::copy(stored.begin(), stored.end(), expected.begin() + 1);
        const std::string file = encoded(settings, block);
        EXPECT_EQ(file.substr(36), std::string(expected.begin(), expected.end()) + name);
        const auto loaded = decoded(file + std::string("XY\0\xFF", 4)); // bytes past the name are ignored
        ASSERT_TRUE(loaded.has_value());
        EXPECT_EQ(loaded->block, expected);
        EXPECT_EQ(encoded(loaded->settings, loaded->block), file) << "the settings read back";
        EXPECT_EQ(loaded->settings.portName, name.substr(0, name.find('\0')));
    }
}

// Per path f: how it is set up, as whom it is read and replaced, what a read of 296 bytes gives and
// whether a replacement takes; then any temporary file left, whether f is a link, and (links
// followed) its type, mode, owner, group and contents. Nobody may make no file beside f: the second
// nobody:root file is written in place.
TEST(FileAccess, ReadGivesRegularFilesOnlyAndReplaceLeavesTheNewBytesOrTheOldFile)
{
    const std::string spaces = "printf %1000s >f && chmod 640 f && chown ", rw = "-rw-r--r-- root:root\n";
    const std::tuple<std::string, As, std::string, bool, std::string> rows[] {
        { ":", As::Us, "refused", true, rw + "new" }, { ":>f", As::Us, "", true, rw + "new" },
        { spaces + "nobody:root f", As::Us, std::string(296, ' '), true, "-rw-r----- nobody:root\nnew" },
        { spaces + "root:nogroup f", As::Us, std::string(296, ' '), true, "-rw-r----- root:nogroup\nnew" },
        { "printf xyz >f && truncate -s 1G f", As::Us, "xyz" + std::string(293, '\0'), true, rw + "new" },
        { "mkdir d && echo old >d/f && ln -s d/f f", As::Us, "old\n", true, "link\n" + rw + "new" },
        { "ln -s dangling f", As::Us, "refused", true, "link\n" + rw + "new" },
        { "ln -s missing/f f", As::Us, "refused", false, "link\n" },
        { "mkdir f", As::Us, "refused", false, "drwxr-xr-x root:root\n" },
        { "mkfifo f", As::Us, "refused", false, "prw-r--r-- root:root\n" },
        { "ln -s /dev/zero f", As::Us, "refused", false, "link\ncrw-rw-rw- root:root\n" },
        { "echo old >f && chmod 600 f && chmod 777 .", As::Nobody, "refused", false,
            "-rw------- root:root\nold\n" },
        { "echo old >f && chmod 444 f && chmod 777 .", As::Nobody, "old\n", false,
            "-r--r--r-- root:root\nold\n" },
        { spaces + "nobody:root f", As::Nobody, std::string(296, ' '), true, "-rw-r----- nobody:root\nnew" },
        { "echo old >f && { chattr +i f 2>/dev/null || exit 77; }", As::Us, "old\n", false, rw + "old\n" },
        { "echo old >f", As::FullDisk, "old\n", false, rw + "old\n" },
        { ":", As::FullDisk, "refused", false, "" }
    };
    ::umask(022);
    ::alarm(30); // a read that waits ends the run
    for (const auto& [setUp, who, read, replaced, look] : rows) {
        SCOPED_TRACE(setUp);
        Folder folder;
        if (folder.sh(setUp); WEXITSTATUS(folder.status) == 77)
            continue; // no chattr +i here
        ASSERT_EQ(folder.status, 0);
        const std::string f = folder.path + "/f";
        const auto open = descriptors();
        const auto got = runAs(who, [&] { return platform::readSmallRegularFile(f, 296); });
        EXPECT_EQ(got ? std::string(got->begin(), got->end()) : "refused", read);
        EXPECT_EQ(runAs(who, [&] { return platform::replaceFileContents(f, bytesOf("new")); }), replaced);
        EXPECT_EQ(descriptors(), open) << "a descriptor was left open";
        EXPECT_EQ(
            folder.sh("ls -A | grep '^[.]'; [ -L f ] && echo link; stat -Lc '%A %U:%G' f; [ -f f ] && cat f"),
            look);
    }
    ::alarm(0);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
