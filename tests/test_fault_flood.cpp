// A flood from the device: a burst far beyond the 128 bytes a tick takes is thrown away whole, so
// the next tick sees only what came after it, and no handler is held up by it.
#include "test_fault_fixture.h"

namespace {

using namespace fault;

constexpr size_t kBurst = 10000;
constexpr double kMaxStallMs = 50;

std::string burst()
{
    std::string bytes(kBurst, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('A' + i % 26);
    return bytes;
}

class Flood : public FaultWindow { };

TEST_F(Flood, BurstBetweenTwoReceiveTicksIsDiscardedWholeAndTheNextTickSeesOnlyLaterBytes)
{
    Form1->RX_Edit->setText("before");
    TickCounter ticks;
    // Right after a tick's handler: the whole burst goes in before the next tick, the later
    // bytes right after that one.
    size_t burstTaken = 0;
    int leftAfterDiscard = -1;
    QObject context;
    QObject::connect(Form1->RXStart_Timer, &platform::WindowTimer::tick, &context, [&] {
        if (ticks.receive() == 1)
            burstTaken = pty.write(burst());
        else if (ticks.receive() == 2) {
            leftAfterDiscard = platform::bytesWaiting(hComm);
            pty.write("later");
        }
    });
    Watchdog watchdog;
    clickRxStart();

    ASSERT_TRUE(ticks.waitForReceive(2));
    ASSERT_EQ(burstTaken, kBurst);
    EXPECT_TRUE(firstEightZero()) << "the discarding tick took nothing";
    EXPECT_EQ(Form1->RX_Edit->text(), "before") << "and showed nothing";
    EXPECT_EQ(leftAfterDiscard, 0) << "nothing of the burst is left";

    ASSERT_TRUE(ticks.waitForReceive(3));
    EXPECT_EQ(Form1->RX_Edit->text(), "0x6C 0x61 0x74 0x65 0x72 0x00 0x00 0x00") << "only the later bytes";
    EXPECT_EQ(Form1->RxBuffer[5], 0) << "exactly five bytes were read";
    EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
}

TEST_F(Flood, BurstBeforeAnExchangesTickIsDiscardedWholeAndTheNextExchangeSeesOnlyItsReply)
{
    TickCounter ticks;
    std::memcpy(Form1->RxBuffer, "old", 4);
    Form1->TX_Edit->setText("q");
    Watchdog watchdog;
    clickTxStart();
    ASSERT_EQ(pty.read(1), "q");
    ASSERT_EQ(pty.write(burst()), kBurst);

    ASSERT_TRUE(ticks.waitForExchange(1));
    EXPECT_EQ(Form1->RX_Edit->text(), "old") << "none of the burst is shown";
    expectTestsEnded();

    Form1->TX_Edit->setText("next");
    clickTxStart();
    ASSERT_EQ(pty.read(4), "next");
    ASSERT_EQ(pty.write("reply"), 5u);
    ASSERT_TRUE(ticks.waitForExchange(2));
    EXPECT_EQ(Form1->RX_Edit->text(), "reply") << "only the later bytes";
    EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
