// Reading and replacing small files on a real disk: regular files only, never a hang, never a
// half-written file.
#include "platform/files/FileAccess.h"
#include "support/FolderContents.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "comtest-access-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string pathOf(const std::string& name) const { return (fs::path(folder) / name).string(); }

    void writeFile(const std::string& path, const std::string& contents) const
    {
        std::ofstream(path, std::ios::binary) << contents;
    }

    static std::string contentsOf(const std::string& path) { return fileContents(path); }
    std::vector<std::string> namesInFolder() const { return sortedNamesIn(folder); }

    std::string folder;
};

mode_t permissionsOf(const std::string& path)
{
    struct stat status { };
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

} // namespace

TEST_F(FileAccess, ReadGivesTheWholeOfAShortFile)
{
    writeFile(pathOf("a.txt"), std::string("abc\0def", 7));
    const auto bytes = platform::readSmallRegularFile(pathOf("a.txt"), 296);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, bytesOf(std::string("abc\0def", 7)));
}

TEST_F(FileAccess, ReadOfAnEmptyFileGivesNoBytesButSucceeds)
{
    writeFile(pathOf("empty.txt"), "");
    const auto bytes = platform::readSmallRegularFile(pathOf("empty.txt"), 296);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(bytes->empty());
}

TEST_F(FileAccess, ReadTakesNoMoreThanAskedOfAHugeFile)
{
    const std::string path = pathOf("huge.txt");
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(8) << 30), 0) << "an 8 GiB sparse file";
        ASSERT_EQ(::pwrite(fd, "xyz", 3, 0), 3);
        ::close(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    const auto bytes = platform::readSmallRegularFile(path, 296);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), 296u);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 3), "xyz");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "read the whole file";
}

TEST_F(FileAccess, ReadRefusesAMissingFileAFolderAndADevice)
{
    EXPECT_FALSE(platform::readSmallRegularFile(pathOf("missing.txt"), 296).has_value());
    EXPECT_FALSE(platform::readSmallRegularFile(folder, 296).has_value());
    EXPECT_FALSE(platform::readSmallRegularFile("/dev/zero", 296).has_value()) << "a character device";
}

TEST_F(FileAccess, ReadRefusesAFifoWithoutWaitingForAWriter)
{
    const std::string path = pathOf("pipe.txt");
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    auto reading = std::async(std::launch::async, [&] { return platform::readSmallRegularFile(path, 296); });
    const bool finished = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        // Free the stuck reader so that the test can end.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    ASSERT_TRUE(finished) << "reading a fifo hung";
    EXPECT_FALSE(reading.get().has_value());
}

TEST_F(FileAccess, ReadFollowsASymbolicLink)
{
    writeFile(pathOf("real.txt"), "data");
    fs::create_symlink("real.txt", pathOf("link.txt"));
    EXPECT_EQ(platform::readSmallRegularFile(pathOf("link.txt"), 296), bytesOf("data"));
}

TEST_F(FileAccess, ReplaceCreatesAMissingFileWithTheUsualPermissions)
{
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(platform::replaceFileContents(pathOf("new.txt"), bytesOf("hello")));
    ::umask(mask);
    EXPECT_EQ(contentsOf(pathOf("new.txt")), "hello");
    EXPECT_EQ(permissionsOf(pathOf("new.txt")), 0644u);
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "new.txt" }) << "no temporary file left";
}

TEST_F(FileAccess, ReplaceOfALongerFileLeavesExactlyTheNewBytesAndKeepsItsMode)
{
    const std::string path = pathOf("old.txt");
    writeFile(path, std::string(1000, 'o'));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(platform::replaceFileContents(path, bytesOf("new")));
    EXPECT_EQ(contentsOf(path), "new");
    EXPECT_EQ(permissionsOf(path), 0640u);
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "old.txt" });
}

TEST_F(FileAccess, ReplaceThroughASymbolicLinkReplacesTheFileItPointsTo)
{
    fs::create_directory(pathOf("real"));
    writeFile(pathOf("real/settings.txt"), "old contents");
    fs::create_symlink("real/settings.txt", pathOf("link.txt"));
    ASSERT_TRUE(platform::replaceFileContents(pathOf("link.txt"), bytesOf("new")));
    EXPECT_TRUE(fs::is_symlink(pathOf("link.txt"))) << "the link stays a link";
    EXPECT_EQ(contentsOf(pathOf("real/settings.txt")), "new");
    EXPECT_EQ(namesInFolder(), (std::vector<std::string> { "link.txt", "real" }));
}

TEST_F(FileAccess, ReplaceThroughADanglingLinkCreatesTheFileItNames)
{
    fs::create_symlink("target.txt", pathOf("link.txt"));
    ASSERT_TRUE(platform::replaceFileContents(pathOf("link.txt"), bytesOf("new")));
    EXPECT_TRUE(fs::is_symlink(pathOf("link.txt")));
    EXPECT_EQ(contentsOf(pathOf("target.txt")), "new");
}

TEST_F(FileAccess, ReplaceRefusesAFolderAFifoAndAMissingFolder)
{
    fs::create_directory(pathOf("sub"));
    EXPECT_FALSE(platform::replaceFileContents(pathOf("sub"), bytesOf("x")));
    EXPECT_TRUE(fs::is_directory(pathOf("sub")));
    const std::string fifo = pathOf("pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(platform::replaceFileContents(fifo, bytesOf("x")));
    EXPECT_TRUE(fs::is_fifo(fifo)) << "the fifo was not replaced";
    EXPECT_FALSE(platform::replaceFileContents(pathOf("nowhere/x.txt"), bytesOf("x")));
    EXPECT_EQ(namesInFolder(), (std::vector<std::string> { "pipe.txt", "sub" })) << "no temporary file left";
}

TEST_F(FileAccess, ReplaceOfAnImmutableFileFailsAndLeavesItWhole)
{
    const std::string path = pathOf("locked.txt");
    writeFile(path, "old contents");
    // chattr +i stops even root; where the file system or tool lacks it, there is nothing to test.
    const std::string lock = "chattr +i '" + path + "' 2>/dev/null";
    if (std::system(lock.c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    const bool replaced = platform::replaceFileContents(path, bytesOf("new"));
    std::system(("chattr -i '" + path + "'").c_str());
    EXPECT_FALSE(replaced);
    EXPECT_EQ(contentsOf(path), "old contents");
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "locked.txt" });
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
