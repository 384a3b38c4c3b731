// The device vanishes (the pty's far end closes, as a USB adapter pulled out) while a test uses the
// port: nothing crashes, blocks or spins, and the window works on a good port afterwards.
#include "test_fault_fixture.h"

#include "platform/toolkit/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

using namespace fault;

constexpr double kMaxCpuShare = 0.05;
constexpr double kMaxStallMs = 50;

class DeviceVanishes : public FaultWindow {
protected:
    // Ten receive ticks on a gone port: the process stays nearly idle (measured with no watchdog
    // and no polling of our own), and no tick holds the thread.
    static void expectTenCheapReceiveTicks()
    {
        const CpuMeter cpu;
        ASSERT_TRUE(sleepForTicks(Form1->RXStart_Timer, 10, 15s));
        const double share = cpu.share();
        std::printf("ten ticks on a gone port: CPU %.2f %% of %lld ms\n", share * 100,
            static_cast<long long>(cpu.elapsedMs()));
        EXPECT_GE(cpu.elapsedMs(), 4400) << "ten ticks 500 ms apart";
        EXPECT_LT(share, kMaxCpuShare) << "CPU time over " << cpu.elapsedMs() << " ms";

        Watchdog watchdog;
        ASSERT_TRUE(sleepForTicks(Form1->RXStart_Timer, 3, 5s));
        EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
    }

    // With both tests ended, an exchange and a receive test on a fresh pty both work.
    static void expectAWorkingPortWorks(TickCounter& ticks)
    {
        PtyPair good;
        ASSERT_TRUE(good.ok());
        useCom1(good);
        Form1->TX_Edit->setText("ping");
        const int exchanges = ticks.exchange();
        clickTxStart();
        ASSERT_TRUE(platform::isPort(hComm)) << "the new port opened";
        EXPECT_EQ(good.read(4), "ping");
        ASSERT_EQ(good.write("pong"), 4u);
        ASSERT_TRUE(ticks.waitForExchange(exchanges + 1));
        EXPECT_EQ(Form1->RX_Edit->text(), "pong");
        expectTestsEnded();

        clickRxStart();
        ASSERT_TRUE(platform::isPort(hComm)) << "the new port opened";
        ASSERT_EQ(good.write("new"), 3u);
        const int before = ticks.receive();
        ASSERT_TRUE(ticks.waitForReceive(before + 1));
        EXPECT_EQ(Form1->RX_Edit->text(), "0x6E 0x65 0x77 0x00 0x00 0x00 0x00 0x00");
    }
};

TEST_F(DeviceVanishes, DuringAReceiveTestLaterTicksStayCheapAndAGoodPortWorksAfterwards)
{
    TickCounter ticks;
    clickRxStart();
    ASSERT_EQ(pty.write("ab"), 2u);
    ASSERT_TRUE(ticks.waitForReceive(1));
    ASSERT_EQ(Form1->RX_Edit->text(), "0x61 0x62 0x00 0x00 0x00 0x00 0x00 0x00");

    pty.closeMaster();
    expectTenCheapReceiveTicks();
    EXPECT_TRUE(firstEightZero()) << "a gone device delivers nothing";
    EXPECT_EQ(visibleMessageBox(), nullptr) << "ticks report nothing";
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled()) << "the test runs on until ended";

    // The user ends it with TX Start: the vanished port cannot be opened, the exchange's tick ends
    // both tests.
    MessageBoxWatcher boxes;
    const int exchanges = ticks.exchange();
    clickTxStart();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, kOpenError);
    ASSERT_TRUE(ticks.waitForExchange(exchanges + 1));
    expectTestsEnded();

    expectAWorkingPortWorks(ticks);
    EXPECT_EQ(boxes.seen().size(), 1u);
}

TEST_F(DeviceVanishes, DuringAnExchangesWaitTheTickEndsTheExchangeWithoutBlocking)
{
    TickCounter ticks;
    Form1->TX_Edit->setText("hello");
    clickTxStart();
    ASSERT_EQ(pty.read(5), "hello");
    ASSERT_TRUE(Form1->PCTest_Timer->enabled()) << "the exchange waits for its tick";

    pty.closeMaster();
    {
        Watchdog watchdog;
        ASSERT_TRUE(ticks.waitForExchange(1));
        EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
    }
    EXPECT_EQ(Form1->RX_Edit->text(), "") << "nothing came back";
    expectTestsEnded();
    EXPECT_EQ(visibleMessageBox(), nullptr);

    // A receive test started on the vanished port reports the open once, then ticks cheaply.
    {
        MessageBoxWatcher boxes;
        clickRxStart();
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text, kOpenError);
    }
    expectTenCheapReceiveTicks();
    EXPECT_EQ(visibleMessageBox(), nullptr) << "no message per tick";
    {
        // Ended as the user would: TX Start, whose tick ends both tests.
        MessageBoxWatcher boxes;
        const int exchanges = ticks.exchange();
        clickTxStart();
        ASSERT_EQ(boxes.seen().size(), 1u);
        ASSERT_TRUE(ticks.waitForExchange(exchanges + 1));
        expectTestsEnded();
    }

    expectAWorkingPortWorks(ticks);
}

TEST_F(DeviceVanishes, WhileThePortChecksOkBoxIsUpNothingSpinsAndAnsweringGivesThePortBack)
{
    const int descriptorsBefore = descriptorsOn(pty.slavePath());
    std::string caption;
    bool heldWhileUp = false;
    double cpuShareWhileUp = 1.0;
    double stallWhileUpMs = 1e9;
    QElapsedTimer sinceAnswer;
    QTimer whileUp;
    whileUp.setInterval(5);
    QObject::connect(&whileUp, &QTimer::timeout, [&] {
        QMessageBox* box = visibleMessageBox();
        if (!box)
            return;
        whileUp.stop();
        caption = box->windowTitle().toStdString();
        heldWhileUp = !portIsFree(pty) && descriptorsOn(pty.slavePath()) == descriptorsBefore + 1;
        pty.closeMaster();
        // Inside the box's own loop, as the user reads the box: first idle, then watched.
        const CpuMeter cpu;
        sleepFor(4s);
        cpuShareWhileUp = cpu.share();
        Watchdog watchdog;
        sleepFor(1s);
        stallWhileUpMs = watchdog.longestStallMs();
        sinceAnswer.start();
        box->button(QMessageBox::Ok)->click();
    });
    whileUp.start();

    Form1->SerialPortTest->trigger(); // returns once the box is answered
    const qint64 afterAnswerMs = sinceAnswer.isValid() ? sinceAnswer.elapsed() : -1;
    whileUp.stop();

    std::printf("port check box up on a gone port: CPU %.2f %% over 4 s\n", cpuShareWhileUp * 100);
    EXPECT_EQ(caption, "OK");
    EXPECT_TRUE(heldWhileUp) << "the check holds the port while its box is up";
    EXPECT_LT(cpuShareWhileUp, kMaxCpuShare) << "the box's loop idles on a gone device";
    EXPECT_LT(stallWhileUpMs, kMaxStallMs);
    ASSERT_GE(afterAnswerMs, 0);
    EXPECT_LT(afterAnswerMs, 1000) << "answering returns at once";
    EXPECT_EQ(descriptorsOn(pty.slavePath()), descriptorsBefore) << "the port is given back";
    expectTestsEnded();

    // The check and the tests work on a good port afterwards.
    MessageBoxWatcher boxes;
    PtyPair good;
    ASSERT_TRUE(good.ok());
    useCom1(good);
    Form1->SerialPortTest->trigger();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].caption, "OK");
    EXPECT_TRUE(portIsFree(good)) << "and given back";
    TickCounter ticks;
    expectAWorkingPortWorks(ticks);
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
