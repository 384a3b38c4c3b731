// "TX Start" and "RX Start" sharing one port on the real window: a second click while an exchange
// waits, receive ticks between a send and its tick, and ticks that fall inside a message box.
#include "port_window_fixture.h"

#include "app/Rs232.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

class TestsSharingThePort : public WindowOverPty { };

const std::string kOpenError = "開啟通訊埠錯誤!!";
const std::string kSettingsError = "通訊埠設定錯誤!!!";

} // namespace

TEST_F(TestsSharingThePort, SecondClickWhileAnExchangeWaitsReopensThePortAndKeepsTheDueTick)
{
    FarEnd farEnd(pty, FarEnd::echo());
    TickLog log;
    Form1->TX_Edit->setText("ONE");
    clickTxStart();
    const qint64 firstClickAt = log.nowMs();
    // Wait until the echo of the first text sits unread in the port, well before the tick.
    ASSERT_TRUE(waitUntil([&] { return platform::bytesWaiting(pty.slaveFd()) == 3; }, 400ms));
    ASSERT_TRUE(waitUntil([&] { return log.nowMs() - firstClickAt >= 250; }));
    ASSERT_EQ(log.count("exchange"), 0u) << "the machine is too slow for this test";

    Form1->TX_Edit->setText("TWO");
    clickTxStart();
    const qint64 secondClickAt = log.nowMs();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    const qint64 tickAt = log.last("exchange")->atMs;
    EXPECT_GE(tickAt - firstClickAt, 490) << "the tick is due 500 ms after the first click";
    EXPECT_LT(tickAt - secondClickAt, 490) << "the second click did not postpone the tick";
    EXPECT_EQ(farEnd.received(), "ONETWO");
    EXPECT_EQ(Form1->RX_Edit->text(), "TWO") << "the reopen discarded the echo of the first text";
    EXPECT_TRUE(portIsFree());
    spinFor(700ms);
    EXPECT_EQ(log.count("exchange"), 1u) << "one tick ends both clicks";
}

TEST_F(TestsSharingThePort, ReceiveTickBetweenASendAndItsTickTakesTheReply)
{
    FarEnd farEnd(pty, FarEnd::echo());
    TickLog log;
    clickRxStart();
    ASSERT_TRUE(log.waitFor("receive", 1));
    // Send halfway between two receive ticks, so that the next one falls before the exchange's.
    const qint64 receiveTickAt = log.last("receive")->atMs;
    ASSERT_TRUE(waitUntil([&] { return log.nowMs() - receiveTickAt >= 200; }));
    Form1->TX_Edit->setText("ABC");
    clickTxStart();
    const qint64 clickedAt = log.nowMs();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    std::vector<Tick> between;
    for (const Tick& tick : log.ticks())
        if (tick.timer == "receive" && tick.atMs > clickedAt)
            between.push_back(tick);
    ASSERT_FALSE(between.empty()) << "a receive tick fell between the send and the exchange's tick";
    EXPECT_EQ(between.front().rxText, "0x41 0x42 0x43 0x00 0x00 0x00 0x00 0x00") << "it took the reply";
    EXPECT_EQ(Form1->RX_Edit->text(), "") << "the exchange's tick found nothing left";
    EXPECT_EQ(farEnd.received(), "ABC");
}

TEST_F(TestsSharingThePort, ExchangeTickEndsARunningReceiveTest)
{
    FarEnd farEnd(pty, FarEnd::echo());
    TickLog log;
    clickRxStart();
    ASSERT_TRUE(log.waitFor("receive", 1));
    clickTxStart();
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled()) << "still running until the exchange's tick";
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_FALSE(Form1->RXStart_Timer->enabled());
    EXPECT_TRUE(Form1->RXStart_Button->isEnabled());
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_TRUE(portIsFree());
    const size_t receiveTicks = log.count("receive");
    spinFor(700ms);
    EXPECT_EQ(log.count("receive"), receiveTicks) << "no receive tick after the exchange's";
}

TEST_F(TestsSharingThePort, TickOfAnEarlierClickRunsInsideTheMessageBoxOfALaterOne)
{
    FarEnd farEnd(pty, FarEnd::echo());
    TickLog log;
    Form1->TX_Edit->setText("ABC");
    clickTxStart();
    ASSERT_TRUE(PtyPair::waitUntil([&] { return farEnd.received() == "ABC"; }, 400ms));
    platform::PortRegistry::instance().mapComPort(1, "/dev/no-such-serial-port");
    putIntoRxBuffer("last read");
    MessageBoxWatcher watcher(false);
    bool tickedInsideTheBox = false;
    WhenBoxShows inside(watcher, 1, [&] {
        tickedInsideTheBox = log.waitFor("exchange", 1);
        watcher.setAnswering(true);
    });

    clickTxStart(); // closes the port, fails to open the missing one, and waits in the box

    EXPECT_TRUE(inside.done());
    EXPECT_TRUE(tickedInsideTheBox);
    ASSERT_EQ(log.count("exchange"), 1u);
    EXPECT_EQ(log.last("exchange")->portOpen, 0) << "the tick closed what the first click opened";
    EXPECT_EQ(log.last("exchange")->rxText, "last read") << "the reopen attempt had closed the port first";
    EXPECT_EQ(Form1->PortOpen, 1) << "the click went on after the box";
    EXPECT_TRUE(Form1->PCTest_Timer->enabled()) << "the click's own tick is due";
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, kOpenError);
    ASSERT_TRUE(log.waitFor("exchange", 2));
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_EQ(watcher.seen().size(), 1u);
}

TEST_F(TestsSharingThePort, PortClosedByATickWhileItsSettingsErrorIsUpIsNotClosedAgain)
{
    FarEnd farEnd(pty, FarEnd::silent());
    Form1->StopBits = 1; // refused by every tty
    TickLog log;
    {
        MessageBoxWatcher answering;
        clickTxStart();
        ASSERT_EQ(answering.seen().size(), 1u);
    }
    MessageBoxWatcher watcher(false);
    int refusedPort = -1;
    int stranger = -1;
    WhenBoxShows inside(watcher, 1, [&] {
        refusedPort = hComm;
        log.waitFor("exchange", 1); // the first click's tick closes the refused port
        // Something else now gets the freed descriptor number, as any open in the program could.
        const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (devNull == refusedPort || !platform::isPort(refusedPort) || platform::isPort(hComm))
            stranger = devNull;
        else {
            stranger = dup3(devNull, refusedPort, O_CLOEXEC);
            close(devNull);
        }
        watcher.setAnswering(true);
    });

    clickTxStart();

    EXPECT_TRUE(inside.done());
    ASSERT_TRUE(platform::isPort(refusedPort)) << "the box was up while the refused port was open";
    ASSERT_EQ(stranger, refusedPort) << "the tick had closed the refused port";
    struct stat status { };
    EXPECT_EQ(fstat(stranger, &status), 0) << "the descriptor that is no longer ours stays open";
    EXPECT_TRUE(S_ISCHR(status.st_mode) && !isatty(stranger)) << "and is still /dev/null";
    EXPECT_FALSE(platform::isPort(hComm));
    EXPECT_EQ(watcher.seen().size(), 1u);
    close(stranger);
    ASSERT_TRUE(log.waitFor("exchange", 2));
    EXPECT_TRUE(portIsFree());
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
