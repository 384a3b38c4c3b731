// "RX Start" on the real window over a pty: the port stays open and every 500 ms a tick takes in
// what arrived, showing bytes 0 to 7 in hex when one of them is set.
#include "port_window_fixture.h"

#include "app/Rs232.h"

namespace {

class ReceiveOverPty : public WindowOverPty { };

const std::string kOpenError = "開啟通訊埠錯誤!!";

std::vector<uint8_t> firstEight(const Tick& tick)
{
    return { tick.rxBuffer.begin(), tick.rxBuffer.begin() + 8 };
}

} // namespace

TEST_F(ReceiveOverPty, ButtonStaysDisabledOverManyTicksUntilAnExchangeEndsTheTest)
{
    TickLog log;
    clickRxStart();
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled());
    EXPECT_TRUE(Form1->RXStart_Timer->enabled());
    EXPECT_EQ(Form1->PortOpen, 1);
    EXPECT_FALSE(portIsFree()) << "the receive test holds the port";

    ASSERT_TRUE(log.waitFor("receive", 4, 4s));
    for (const Tick& tick : log.ticks()) {
        EXPECT_FALSE(tick.rxStartEnabled) << "after the tick at " << tick.atMs << " ms";
        EXPECT_EQ(tick.portOpen, 1) << "after the tick at " << tick.atMs << " ms";
    }
    EXPECT_TRUE(Form1->RXStart_Timer->enabled()) << "the test never ends by itself";
    EXPECT_FALSE(portIsFree()) << "the ticks do not close the port";
    EXPECT_GE(log.ticks()[3].atMs - log.ticks()[0].atMs, 1450) << "ticks 500 ms apart";

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));
    EXPECT_TRUE(Form1->RXStart_Button->isEnabled());
    EXPECT_FALSE(Form1->RXStart_Timer->enabled());
}

TEST_F(ReceiveOverPty, ThreeWaitingBytesFillBytesZeroToTwoAndTheRestOfTheFirstEightIsZero)
{
    std::memset(Form1->RxBuffer, 0xEE, sizeof Form1->RxBuffer);
    TickLog log;
    clickRxStart();
    ASSERT_EQ(pty.write("xyz"), 3u);

    ASSERT_TRUE(log.waitFor("receive", 1));
    const Tick& tick = log.ticks().back();
    EXPECT_EQ(firstEight(tick), (std::vector<uint8_t> { 'x', 'y', 'z', 0, 0, 0, 0, 0 }));
    EXPECT_EQ(tick.rxBuffer[8], 0xEE) << "bytes 8 on keep their values";
    EXPECT_EQ(tick.rxBuffer[128], 0xEE);
    EXPECT_EQ(tick.rxText, "0x78 0x79 0x7A 0x00 0x00 0x00 0x00 0x00");
}

TEST_F(ReceiveOverPty, TickWithNothingWaitingLeavesRxEditAsItIs)
{
    TickLog log;
    Form1->RX_Edit->setText("typed");
    clickRxStart();
    ASSERT_TRUE(log.waitFor("receive", 1));
    EXPECT_EQ(log.ticks().back().rxText, "typed") << "nothing arrived, nothing shown";
    EXPECT_EQ(firstEight(log.ticks().back()), std::vector<uint8_t>(8, 0));

    ASSERT_EQ(pty.write("hi"), 2u);
    ASSERT_TRUE(log.waitFor("receive", 2));
    EXPECT_EQ(log.ticks().back().rxText, "0x68 0x69 0x00 0x00 0x00 0x00 0x00 0x00");

    ASSERT_TRUE(log.waitFor("receive", 3));
    EXPECT_EQ(firstEight(log.ticks().back()), std::vector<uint8_t>(8, 0)) << "the next tick clears them";
    EXPECT_EQ(Form1->RxBuffer[0], 0) << "byte 0 stays the terminator";
    EXPECT_EQ(log.ticks().back().rxText, "0x68 0x69 0x00 0x00 0x00 0x00 0x00 0x00")
        << "a tick with nothing shows nothing new";
}

TEST_F(ReceiveOverPty, HexDisplayShowsTheFirstEightBytesInUpperCase)
{
    TickLog log;
    clickRxStart();
    const uint8_t bytes[] = { 0x0A, 0xFF, 0x41, 0x00, 0xab, 0x10, 0x01, 0x7F, 0x55, 0x66 };
    ASSERT_EQ(pty.write(bytes, sizeof bytes), sizeof bytes);

    ASSERT_TRUE(log.waitFor("receive", 1));
    EXPECT_EQ(Form1->RX_Edit->text(), "0x0A 0xFF 0x41 0x00 0xAB 0x10 0x01 0x7F");
    EXPECT_EQ(Form1->RX_Edit->cursorPosition(), 0) << "the narrow box shows Data[0] first";
}

TEST_F(ReceiveOverPty, MoreThan128BytesBetweenTicksAreDiscardedAndShowNothing)
{
    TickLog log;
    Form1->RX_Edit->setText("before");
    clickRxStart();
    ASSERT_EQ(pty.write(std::string(129, 'q')), 129u);

    ASSERT_TRUE(log.waitFor("receive", 1));
    EXPECT_EQ(firstEight(log.ticks().back()), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(Form1->RX_Edit->text(), "before");

    ASSERT_EQ(pty.write("ok"), 2u);
    ASSERT_TRUE(log.waitFor("receive", 2));
    EXPECT_EQ(Form1->RX_Edit->text(), "0x6F 0x6B 0x00 0x00 0x00 0x00 0x00 0x00")
        << "only what arrived after the discard";
}

TEST_F(ReceiveOverPty, FailedOpenShowsItsMessageOncePerClickAndASecondClickNestsItsOwn)
{
    platform::PortRegistry::instance().mapComPort(1, "/dev/no-such-serial-port");
    MessageBoxWatcher watcher(false);
    TickLog log;
    bool enabledDuringFirstBox = false;
    bool enabledDuringSecondBox = true;
    WhenBoxShows second(watcher, 2, [&] {
        enabledDuringSecondBox = Form1->RXStart_Button->isEnabled();
        watcher.setAnswering(true);
    });
    WhenBoxShows first(watcher, 1, [&] {
        enabledDuringFirstBox = Form1->RXStart_Button->isEnabled();
        clickRxStart(); // returns once its own box has been answered
        watcher.setAnswering(true); // also when the click did nothing, so the test cannot hang
    });

    clickRxStart();

    EXPECT_TRUE(first.done());
    EXPECT_TRUE(second.done());
    EXPECT_TRUE(enabledDuringFirstBox) << "the button is disabled only after the open returned";
    EXPECT_TRUE(enabledDuringSecondBox);
    ASSERT_EQ(watcher.seen().size(), 2u) << "one message per click";
    for (const SeenBox& box : watcher.seen()) {
        EXPECT_EQ(box.text, kOpenError);
        EXPECT_EQ(box.caption, "ERROR");
    }
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled());
    EXPECT_TRUE(Form1->RXStart_Timer->enabled());
    EXPECT_EQ(Form1->PortOpen, 1);

    const size_t ticksBefore = log.count("receive");
    ASSERT_TRUE(log.waitFor("receive", ticksBefore + 2));
    EXPECT_EQ(watcher.seen().size(), 2u) << "no message per tick";
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled()) << "the test runs on without a port";
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
