// A port that someone else holds (a flock on the device, as picocom or a second instance takes it)
// is refused by every open with the open error, and nothing else changes: the holder keeps it, the
// line settings stay as they were, and the device receives nothing.
#include "support/HolderProcess.h"
#include "test_fault_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>

namespace {

using namespace fault;

bool sameLine(const platform::LineBits& a, const platform::LineBits& b)
{
    return a.iflag == b.iflag && a.oflag == b.oflag && a.cflag == b.cflag && a.lflag == b.lflag
        && a.cc == b.cc && a.ispeed == b.ispeed && a.ospeed == b.ospeed;
}

class HeldPort : public FaultWindow {
protected:
    // TX Start, RX Start and the port check each show the open error once and change nothing.
    void expectEveryOpenRefused()
    {
        platform::LineBits lineBefore;
        ASSERT_TRUE(pty.slaveLine(lineBefore));
        const std::vector<uint8_t> blockBefore(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer));
        const std::string portBefore = Form23->CurPortName;
        const double baudBefore = Form23->CurBaudRate;
        MessageBoxWatcher boxes;
        TickCounter ticks;

        Form1->TX_Edit->setText("hello");
        clickTxStart();
        ASSERT_TRUE(ticks.waitForExchange(1));
        expectTestsEnded();

        clickRxStart();
        ASSERT_TRUE(ticks.waitForReceive(1));
        EXPECT_FALSE(platform::isPort(hComm));
        makeIdle();

        Form1->SerialPortTest->trigger();

        ASSERT_EQ(boxes.seen().size(), 3u) << "one message per open";
        for (const SeenBox& box : boxes.seen()) {
            EXPECT_EQ(box.text, kOpenError);
            EXPECT_EQ(box.caption, "ERROR");
        }
        EXPECT_EQ(pty.read(1, 300ms), "") << "the device received nothing";
        platform::LineBits lineAfter;
        ASSERT_TRUE(pty.slaveLine(lineAfter));
        EXPECT_TRUE(sameLine(lineBefore, lineAfter)) << "the line settings were not touched";
        EXPECT_EQ(
            std::vector<uint8_t>(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer)), blockBefore);
        EXPECT_EQ(Form23->CurPortName, portBefore);
        EXPECT_EQ(Form23->CurBaudRate, baudBefore);
        EXPECT_FALSE(portIsFree(pty)) << "the holder keeps the port";
    }
};

// As root here (where the suite runs as root): the exclusive-open flag alone would not stop root.
TEST_F(HeldPort, LockedByAnotherProcessOfTheSameUserEveryOpenFails)
{
    HolderProcess holder(pty.slavePath());
    ASSERT_TRUE(holder.holding());
    expectEveryOpenRefused();
    holder.release();
    EXPECT_TRUE(portIsFree(pty)) << "free again once the holder lets go";
}

TEST_F(HeldPort, LockedByAnotherUsersProcessEveryOpenFails)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can start a holder as another user";
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "no user nobody to hold the port as";
    HolderProcess holder(pty.slavePath(), nobody);
    ASSERT_TRUE(holder.holding());
    expectEveryOpenRefused();
    holder.release();
    EXPECT_TRUE(portIsFree(pty));
}

TEST_F(HeldPort, HeldByThisProgramsOwnReceiveTestThePortCheckFailsAndTheTestRunsOn)
{
    MessageBoxWatcher boxes;
    TickCounter ticks;
    clickRxStart();
    ASSERT_TRUE(platform::isPort(hComm));
    const platform::PortHandle held = hComm;

    Form1->SerialPortTest->trigger();

    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, kOpenError);
    EXPECT_EQ(hComm, held) << "the receive test keeps its port";
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled());
    ASSERT_EQ(pty.write("ok"), 2u);
    ASSERT_TRUE(ticks.waitForReceive(1));
    EXPECT_EQ(Form1->RX_Edit->text(), "0x6F 0x6B 0x00 0x00 0x00 0x00 0x00 0x00") << "and goes on receiving";
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
