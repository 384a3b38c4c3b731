// The settings file format, and reading and replacing small files on a real disk.
#include "platform/files/FileAccess.h"
#include "serial/SettingsFile.h"
#include "support/FolderContents.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

const auto encoded = [](auto... a) { return std::string((char*)settings_file::encode(a...).data(), 296); };
const auto decoded = [](std::string s) { return settings_file::decode({ (uint8_t*)s.data(), s.size() }); };

TEST(SettingsFileFormat, RefusesWhatIsNoWholeSettingsFileAndCarriesTheRest)
{
    settings_file::Block block; // each byte differs from its neighbours
    std::generate(block.begin(), block.end(), [n = 9]() mutable { return uint8_t(n++); });
    // Block bytes 1 to 7 and the name field; the second row has values no list has, and a cut name.
    const std::tuple<platform::LineSettings, std::string, std::string> rows[] {
        { { 115200, 2, 7, 2, "CO" }, { "\x02\x07\x02\x00\xC2\x01\x00", 7 }, { "CO\0\0", 4 } },
        { { 0xF4030201u, 9, 9, 7, "XY123" }, "\x09\x09\x07\x01\x02\x03\xF4", "XY12" }
    };
    for (const auto& [settings, stored, name] : rows) {
        const std::string f = encoded(settings, block), header("Velmora RS232 Interface Debug Tools\0", 36);
        EXPECT_EQ(f, header + std::string(block.begin(), block.end()).replace(1, 7, stored) + name);
        const auto loaded = decoded(f + "XY"); // bytes past the name are ignored
        ASSERT_TRUE(loaded.has_value());
        EXPECT_EQ(encoded(loaded->settings, loaded->block), f);
        EXPECT_EQ(loaded->settings.portName, name.substr(0, name.find('\0')));
        // Empty, short, another letter case, no zero byte, a shorter header text, cut after the header:
        // copies changed in place, as GCC 12 at -O3 takes operator+ on them for an overlap (-Wrestrict).
        std::vector<std::string> bad { {}, f.substr(0, 35), f, f, f, f.substr(0, 36), f.substr(0, 295) };
        bad[2][0] = 'v';
        bad[3][35] = ' ';
        bad[4][34] = '\0';
        for (const std::string& bytes : bad)
            EXPECT_FALSE(decoded(bytes)) << testing::PrintToString(bytes.substr(0, 40));
    }
}

// Per set-up of f, as us, nobody (who may make no file here) or on a full disk: a read, a replacement, what
// is left.
TEST(FileAccess, ReadGivesRegularFilesOnlyAndReplaceLeavesTheNewBytesOrTheOldFile)
{
    const std::string spaces = "printf %1000s >f && chmod 640 f && chown ", rw = "-rw-r--r-- root:root\n";
    const std::tuple<std::string, std::string, std::string, bool, std::string> rows[] {
        { ":", "", "refused", true, rw + "new" }, { ":>f", "", "", true, rw + "new" },
        { spaces + "nobody f", "", std::string(296, ' '), true, "-rw-r----- nobody:root\nnew" },
        { spaces + ":nogroup f", "", std::string(296, ' '), true, "-rw-r----- root:nogroup\nnew" },
        { "mkdir d && echo old >d/f && ln -s d/f f", "", "old\n", true, "link\n" + rw + "new" },
        { "ln -s dangling f", "", "refused", true, "link\n" + rw + "new" },
        { "ln -s missing/f f", "", "refused", false, "link\n" },
        { "mkfifo f", "", "refused", false, "prw-r--r-- root:root\n" },
        { "ln -s /dev/zero f", "", "refused", false, "link\ncrw-rw-rw- root:root\n" },
        { "echo old >f", "full", "old\n", false, rw + "old\n" }, // a full disk: the old file stays whole
        { "echo old >f && chmod 444 f && chmod 777 .", "nobody", "old\n", false,
            "-r--r--r-- root:root\nold\n" },
        { spaces + "nobody f", "nobody", std::string(296, ' '), true,
            "-rw-r----- nobody:root\nnew" } // in place
    };
    ::umask(022);
    ::alarm(30); // a read that waits ends the run
    const rlimit unlimited { RLIM_INFINITY, RLIM_INFINITY };
    ::signal(SIGXFSZ, SIG_IGN); // a write past the file size limit fails instead
    for (const auto& [setUp, as, read, replaced, look] : rows) {
        SCOPED_TRACE(setUp + " " + as);
        const bool nobody = as == "nobody";
        Folder folder;
        ASSERT_EQ(folder.sh(setUp + " && echo done"), "done\n");
        const auto open = openDescriptors();
        ::setfsgid(nobody ? 65534 : ::getegid());
        ::setfsuid(nobody ? 65534 : ::geteuid());
        const auto got = platform::readSmallRegularFile(folder.path + "/f", 296);
        const rlimit fileSize { as == "full" ? 2 : RLIM_INFINITY, RLIM_INFINITY };
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        const bool took = platform::replaceFileContents(folder.path + "/f", { (const uint8_t*)"new", 3 });
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        ::setfsuid(::geteuid());
        ::setfsgid(::getegid());
        EXPECT_EQ(got ? std::string(got->begin(), got->end()) : "refused", read);
        EXPECT_EQ(took, replaced);
        EXPECT_EQ(openDescriptors(), open) << "a descriptor was left open";
        EXPECT_EQ(
            folder.sh("ls -A | grep '^[.]'; [ -L f ] && echo link; stat -Lc '%A %U:%G' f; [ -f f ] && cat f"),
            look);
    }
    ::alarm(0);
}
