// Open of files that are no settings file, or no file one can read: each is refused with the right
// message, quickly, and changes nothing (the settings, the block, the last file name, a running
// receive test, the file itself).
#include "test_fault_fixture.h"

#include "platform/toolkit/FileDialog.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using namespace fault;

const std::string kCannotOpen = "Can't Open Txt File";
const std::string kNotMatch = "Txt File Format Not Match";
constexpr double kMaxStallMs = 50;

std::string header()
{
    std::string bytes = "Velmora RS232 Interface Debug Tools";
    bytes += '\0';
    return bytes;
}

// What Open may change when it succeeds, and must not when it fails.
struct State {
    std::string curPort, newPort;
    double curBaud, newBaud;
    uint8_t curParity, curSize, curStop;
    std::vector<uint8_t> block;
    std::string lastFileName;
    bool receiving;

    static State take()
    {
        const TForm23& d = *Form23;
        return { d.CurPortName, d.NewPortName, d.CurBaudRate, d.NewBaudRate, d.CurParity, d.CurByteSize,
            d.CurStopBits, std::vector<uint8_t>(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer)),
            Form1->LastFileName, Form1->RXStart_Timer->enabled() && Form1->PortOpen == 1 };
    }
    bool operator==(const State&) const = default;
};

// How a path looks from outside, to see that Open left it alone.
std::string lookOf(const std::string& path)
{
    struct stat status { };
    if (lstat(path.c_str(), &status) != 0)
        return "missing";
    return std::to_string(status.st_mode) + "/" + std::to_string(status.st_size) + "/"
        + std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
}

class SettingsFileFaults : public FaultWindow {
protected:
    void SetUp() override
    {
        FaultWindow::SetUp();
        std::string pattern = (fs::temp_directory_path() / "comtest-faults-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        platform::FileDialog::setChooser([this](const platform::FileDialog&) { return chosen_; });
        Form1->LastFileName = "earlier.txt";
        std::fill(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer), uint8_t { 0x5A });
        // A receive test runs meanwhile: only a loaded file would stop it.
        clickRxStart();
        ASSERT_TRUE(platform::isPort(hComm));
    }
    void TearDown() override
    {
        platform::FileDialog::setChooser(nullptr);
        fs::remove_all(folder_);
        FaultWindow::TearDown();
    }

    std::string pathOf(const std::string& name) const { return (fs::path(folder_) / name).string(); }
    std::string writeFile(const std::string& name, const std::string& contents, mode_t mode = 0644) const
    {
        const std::string path = pathOf(name);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
        close(fd);
        return path;
    }

    // Opens path through the Open command and expects exactly message, no stall and no change.
    void expectRefused(const std::string& path, const std::string& message)
    {
        SCOPED_TRACE(path);
        chosen_ = path;
        const State before = State::take();
        const std::string lookBefore = lookOf(path);
        MessageBoxWatcher boxes;
        Watchdog watchdog;
        QElapsedTimer clock;
        clock.start();
        Form1->FileOpenClick(nullptr);
        EXPECT_LT(clock.elapsed(), 3000) << "the command returned promptly";
        EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text, message);
        EXPECT_EQ(boxes.seen()[0].caption, "ERROR");
        EXPECT_TRUE(State::take() == before) << "nothing changed";
        EXPECT_EQ(lookOf(path), lookBefore) << "the file was left alone";
    }

    std::string folder_;
    std::optional<std::string> chosen_;
};

TEST_F(SettingsFileFaults, EmptyFileDoesNotMatch)
{
    expectRefused(writeFile("empty.txt", ""), kNotMatch);
}

TEST_F(SettingsFileFaults, FileShorterThanTheHeaderDoesNotMatch)
{
    expectRefused(writeFile("short.txt", header().substr(0, 10)), kNotMatch);
}

TEST_F(SettingsFileFaults, FileEndingInsideTheBlockDoesNotMatch)
{
    expectRefused(writeFile("cut.txt", header() + std::string(100, '\x01')), kNotMatch);
}

TEST_F(SettingsFileFaults, OneGibibyteSparseFileIsJudgedByItsFirstBytesWithoutReadingItAll)
{
    const std::string path = writeFile("huge.txt", "");
    ASSERT_EQ(truncate(path.c_str(), off_t { 1 } << 30), 0);
    expectRefused(path, kNotMatch);
}

TEST_F(SettingsFileFaults, FolderCannotBeOpened)
{
    const std::string path = pathOf("folder.txt");
    ASSERT_TRUE(fs::create_directory(path));
    expectRefused(path, kCannotOpen);
}

TEST_F(SettingsFileFaults, FifoWithNoWriterCannotBeOpenedAndDoesNotWait)
{
    const std::string path = pathOf("fifo.txt");
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    expectRefused(path, kCannotOpen);
}

TEST_F(SettingsFileFaults, SymlinkToDevZeroCannotBeOpened)
{
    const std::string path = pathOf("zero.txt");
    fs::create_symlink("/dev/zero", path);
    expectRefused(path, kCannotOpen);
}

// Root reads any file, so as root the case runs again in a child that first becomes nobody.
TEST_F(SettingsFileFaults, FileTheUserMayNotReadCannotBeOpened)
{
    if (geteuid() != 0) {
        expectRefused(writeFile("unreadable.txt", header() + std::string(260, '\0'), 0000), kCannotOpen);
        return;
    }
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) {
        std::printf("skipped: no user nobody to run as\n");
        GTEST_SKIP() << "no user nobody to run as";
    }
    std::string filter = "--gtest_filter=";
    filter += ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
    filter += ".";
    filter += ::testing::UnitTest::GetInstance()->current_test_info()->name();
    char self[] = "/proc/self/exe";
    char* const arguments[] = { self, filter.data(), nullptr };
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t child = fork();
    if (child == 0) {
        // Only system calls from here: the parent has threads.
        if (setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0)
            execv(self, arguments);
        _exit(127);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    const bool ended = waitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 120s);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended) << "the run as nobody did not end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run as nobody failed (its output is above)";
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
