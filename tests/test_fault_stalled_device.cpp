// A device that never reads: "TX Start" with more text than the pty takes gives up within the
// write bound, the window is usable right after, and the next exchange works once the device
// drains its input.
#include "test_fault_fixture.h"

namespace {

using namespace fault;

constexpr int kTextBytes = 30000;
constexpr double kBaud = 19200.0;
constexpr double kMaxStallMs = 50;

QString longText()
{
    QString text;
    text.reserve(kTextBytes);
    for (int i = 0; i < kTextBytes; ++i)
        text += QChar('a' + i % 26);
    return text;
}

class StalledDevice : public FaultWindow { };

TEST_F(StalledDevice, TxStartReturnsWithinTheWriteBoundAndTheNextExchangeWorksOnceTheDeviceDrains)
{
    TickCounter ticks;
    Form1->BaudRate = kBaud;
    Form1->TX_Edit->setText(longText());
    ASSERT_EQ(Form1->TX_Edit->text().size(), kTextBytes);

    // Ten bits a character at 8N1, plus the second of slack the bound allows.
    const double boundMs = kTextBytes * 10 * 1000.0 / kBaud + 1000.0;
    QElapsedTimer clock;
    clock.start();
    clickTxStart();
    const qint64 tookMs = clock.elapsed();
    std::printf("TX Start to a device that never reads: returned after %lld ms (bound %.0f ms)\n",
        static_cast<long long>(tookMs), boundMs);
    EXPECT_LT(tookMs, boundMs + 3000) << "gave up within the write bound";

    Watchdog watchdog;
    ASSERT_TRUE(ticks.waitForExchange(1)) << "the window ticks right after";
    QTest::keyClick(Form1->RX_Edit, Qt::Key_Z);
    EXPECT_LT(watchdog.longestStallMs(), kMaxStallMs);
    expectTestsEnded();

    const std::string arrived = pty.read(kTextBytes, 1s);
    EXPECT_GT(arrived.size(), 0u);
    EXPECT_LT(arrived.size(), static_cast<size_t>(kTextBytes)) << "the pty took only part of it";
    EXPECT_EQ(arrived, longText().left(static_cast<int>(arrived.size())).toStdString()) << "in order";

    Form1->TX_Edit->setText("ping");
    clickTxStart();
    EXPECT_EQ(pty.read(4), "ping");
    ASSERT_EQ(pty.write("pong"), 4u);
    ASSERT_TRUE(ticks.waitForExchange(2));
    EXPECT_EQ(Form1->RX_Edit->text(), "pong");
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
