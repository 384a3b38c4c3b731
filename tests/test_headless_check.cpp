// --check COMn: a free port opens, a held one is refused with its holder named, and the line
// settings of a settings file are applied and read back.
#include "platform/discovery/PortHolders.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"
#include "test_headless_support.h"

#include "platform/discovery/LockFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using headless_test::contains;

namespace {

class PortCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveProgram())
            GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
        ASSERT_TRUE(pty.ok());
    }

    ProgramRun check(const std::string& more = "")
    {
        return runProgram("--port COM1=" + pty.slavePath() + " --check COM1 " + more);
    }

    PtyPair pty;
};

} // namespace

TEST_F(PortCheck, FreePortOpensAndIsFreeAgainAfterwards)
{
    const ProgramRun run = check();
    EXPECT_EQ(run.status, 0) << run.out;
    // This test process keeps the pty's slave open, as socat would.
    EXPECT_EQ(run.out,
        "COM1 (" + pty.slavePath() + "): free (also open by PID " + std::to_string(getpid()) + " ("
            + platform::processName(getpid()) + "))\n");
    EXPECT_FALSE(platform::findHolders(pty.slavePath()).held()) << "the check let go of the port";
    EXPECT_EQ(check().status, 0) << "a second check finds it free again";
}

// Another program's use of the port decides the answer, and keeps its locks and its waiting bytes.
TEST_F(PortCheck, OtherProgramsKeepTheirUseOfThePort)
{
    using Way = HolderProcess::Way;
    const struct {
        const char* name;
        Way way;
        int status;
        std::string reason;
    } cases[] = {
        { "open without a lock", Way::Share, 0, "): free (also open by " },
        { "exclusive mode alone", Way::Exclusive, 1, "): busy: " },
        { "a session's terminal", Way::ControllingTerminal, 1, "): busy: controlling terminal of " },
    };
    for (const auto& use : cases) {
        SCOPED_TRACE(use.name);
        PtyPair pair;
        HolderProcess other(pair.slavePath(), nullptr, use.way);
        ASSERT_TRUE(other.holding());
        const std::string waiting = "theirs";
        ASSERT_EQ(pair.write(waiting), waiting.size());
        int count = 0;
        ASSERT_TRUE(PtyPair::waitUntil(
            [&] { return ioctl(pair.slaveFd(), FIONREAD, &count) == 0 && count == int(waiting.size()); }));
        const ProgramRun run = runProgram("--port COM1=" + pair.slavePath() + " --check COM1");
        EXPECT_EQ(run.status, use.status) << run.out;
        EXPECT_TRUE(contains(run.out, use.reason)) << run.out;
        EXPECT_TRUE(contains(run.out, "PID " + std::to_string(other.pid()) + " ")) << run.out;
        EXPECT_EQ(ioctl(pair.slaveFd(), FIONREAD, &count), 0);
        EXPECT_EQ(count, int(waiting.size())) << "the check took bytes that were waiting for another reader";
        int exclusive = 0;
        EXPECT_EQ(ioctl(pair.slaveFd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, use.way == Way::Exclusive) << "the exclusive mode is the other program's";
    }
}

TEST_F(PortCheck, PortLockedByAnotherProcessIsBusyAndNamesIt)
{
    HolderProcess holder(pty.slavePath());
    ASSERT_TRUE(holder.holding());
    const ProgramRun run = check();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "busy: held by PID " + std::to_string(holder.pid()))) << run.out;
    EXPECT_TRUE(contains(run.out, "flock")) << run.out;
    EXPECT_EQ(headless_test::lines(run.out).size(), 1u) << "one line of reason: " << run.out;
}

TEST_F(PortCheck, PortHeldByAnExchangeOfAnotherComtestIsBusyAndNamesIt)
{
    headless_test::BackgroundProgram exchange(
        { "--port", "COM1=" + pty.slavePath(), "--send", "x", "--wait", "3000" });
    ASSERT_GT(exchange.pid(), 0);
    ASSERT_TRUE(PtyPair::waitUntil([&] { return platform::findHolders(pty.slavePath()).held(); }, 5s))
        << "the exchange took the port";
    const ProgramRun run = check();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "busy: held by PID " + std::to_string(exchange.pid()))) << run.out;
    const ProgramRun exchanged = exchange.finish();
    EXPECT_EQ(exchanged.status, 0) << exchanged.out;
    EXPECT_EQ(check().status, 0) << "free again once the exchange ended";
}

TEST_F(PortCheck, LiveLockFileMakesThePortBusyAndNamesItsProcess)
{
    // A process of ours that lives while the check runs, named by the lock file.
    HolderProcess stranger("/dev/null");
    const std::string lockFile = "/run/lock/" + platform::lockFileName(pty.slavePath());
    {
        std::ofstream file(lockFile);
        if (!file)
            GTEST_SKIP() << "no writable lock folder";
        file << "      " << stranger.pid() << "\n";
    }
    const ProgramRun run = check();
    std::remove(lockFile.c_str());
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "busy: held by PID " + std::to_string(stranger.pid()))) << run.out;
    EXPECT_TRUE(contains(run.out, "lock file")) << run.out;
}

TEST_F(PortCheck, MissingDeviceAndNonTtyFileAreNamedAsSuch)
{
    const ProgramRun missing = runProgram("--port COM3=/dev/no-such-tty --check COM3");
    EXPECT_EQ(missing.status, 1) << missing.out;
    EXPECT_EQ(missing.out, "COM3 (/dev/no-such-tty): missing: no device /dev/no-such-tty\n");
    const ProgramRun file = runProgram("--port COM5=/etc/hostname --check COM5");
    EXPECT_EQ(file.status, 1) << file.out;
    EXPECT_TRUE(contains(file.out, "COM5 (/etc/hostname): not a tty")) << file.out;
}

// The check as the user nobody; nothing when the system cannot run it so.
std::optional<ProgramRun> checkAsNobody(const std::string& device)
{
    const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups "
        + std::string(std::getenv("COMTEST_BINARY")) + " --port COM1=" + device + " --check COM1 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    ProgramRun run;
    char chunk[512];
    while (size_t got = fread(chunk, 1, sizeof chunk, pipe))
        run.out.append(chunk, got);
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return std::nullopt;
    run.status = WEXITSTATUS(status);
    return run;
}

TEST_F(PortCheck, PermissionDeniedNamesTheGroupThatMayOpenIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the check as another user";
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0660), 0);
    const auto run = checkAsNobody(pty.slavePath());
    if (!run)
        GTEST_SKIP() << "setpriv cannot run the program";
    EXPECT_EQ(run->status, 1) << run->out;
    const auto group = platform::groupAllowedToOpen(pty.slavePath());
    ASSERT_TRUE(group.has_value());
    EXPECT_TRUE(contains(run->out, "permission denied: members of the group " + *group + " may open it"))
        << run->out;
}

// A process whose descriptors the user may not read is still told of where its command line names
// the device, without a PID that the user could not look into anyway.
TEST_F(PortCheck, OpenerThatTheUserCannotSeeIsReportedAsSuch)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the check as another user";
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0666), 0);
    // A shell of root's that holds the device and names it in its arguments, as a terminal would.
    const pid_t opener = fork();
    if (opener == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", "exec 3<>\"$0\"; sleep 60", pty.slavePath().c_str(), nullptr);
        _exit(127);
    }
    ASSERT_GT(opener, 0);
    const bool opened = PtyPair::waitUntil([&] {
        const auto pids = platform::findOpeners(pty.slavePath()).pids;
        return std::find(pids.begin(), pids.end(), opener) != pids.end();
    });
    const auto run = opened ? checkAsNobody(pty.slavePath()) : std::nullopt;
    kill(-opener, SIGKILL);
    waitpid(opener, nullptr, 0);
    ASSERT_TRUE(opened);
    if (!run)
        GTEST_SKIP() << "setpriv cannot run the program";
    EXPECT_EQ(run->status, 0) << run->out;
    EXPECT_EQ(run->out,
        "COM1 (" + pty.slavePath() + "): free (also open by a process that cannot be seen from here)\n");
}

TEST_F(PortCheck, SettingsFromAFileAreAppliedAndReadBackWithThePtysForcedBits)
{
    headless_test::TempFolder folder;
    const std::string file
        = headless_test::writeSettingsFile(folder.path() + "/line.txt", "COM1", 9600, 2, 7, 2);
    const ProgramRun run = check("--settings " + file);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "asked:      9600 baud, 7 data bits, parity Even, stop bits 2")) << run.out;
    EXPECT_TRUE(contains(run.out,
        "driver has: 9600 baud, 8 data bits, parity None, stop bits 2 (a pseudo-terminal always has 8 data "
        "bits and parity None)"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "settings taken")) << run.out;
    platform::LineBits line;
    ASSERT_TRUE(pty.slaveLine(line));
    EXPECT_EQ(platform::outputSpeed(line), 9600u) << "the speed reached the driver";
}

TEST_F(PortCheck, SettingsWithoutATermiosFormAreRefused)
{
    headless_test::TempFolder folder;
    const std::string file
        = headless_test::writeSettingsFile(folder.path() + "/line.txt", "COM1", 9600, 0, 8, 1);
    const ProgramRun run = check("--settings " + file);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "stop bits 1.5")) << run.out;
    EXPECT_TRUE(contains(run.out, "settings refused")) << run.out;
}

TEST_F(PortCheck, UnreadableOrForeignSettingsFileIsBadInput)
{
    headless_test::TempFolder folder;
    const ProgramRun missing = check("--settings " + folder.path() + "/none.txt");
    EXPECT_EQ(missing.status, 2) << missing.out;
    EXPECT_EQ(missing.out.rfind("comtest: --settings ", 0), 0u) << missing.out;
    EXPECT_TRUE(contains(missing.out, "Usage: comtest")) << missing.out;
    const std::string foreign = folder.path() + "/foreign.txt";
    std::ofstream(foreign) << std::string(400, 'x');
    const ProgramRun notOurs = check("--settings " + foreign);
    EXPECT_EQ(notOurs.status, 2) << notOurs.out;
    EXPECT_TRUE(contains(notOurs.out, "not a comtest settings file")) << notOurs.out;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
