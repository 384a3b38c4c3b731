// "TX Start", "RX Start" and the port check over a pty mapped as COM1, and Exit with a port open.
#include "platform/registry/PortRegistry.h"
#include "platform/toolkit/MessageBox.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>

using namespace std::chrono_literals;
using Bytes = std::string;
const std::string kOpenError = "開啟通訊埠錯誤!!", kMissing = "/dev/comtest-no-such-device";
platform::PortRegistry& ports = platform::PortRegistry::instance();

// What the tests leave behind them, compared whole: the two timers, RX Start, PortOpen, whether
// hComm holds a port, and whether the pty cannot be taken.
struct TestState {
    bool exchangeTimer = false, receiveTimer = false, rxStartEnabled = true;
    int portOpen = 0;
    bool hCommIsPort = false, ptyTaken = false;
    bool operator==(const TestState&) const = default;
};
void PrintTo(const TestState& s, std::ostream* out)
{
    *out << "{TX timer " << s.exchangeTimer << ", RX timer " << s.receiveTimer << ", RX Start "
         << s.rxStartEnabled << ", PortOpen " << s.portOpen << ", hComm a port " << s.hCommIsPort
         << ", pty taken " << s.ptyTaken << "}";
}
const TestState kIdle {};

class Exchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        ports.mapComPort(1, pty.slavePath());
        Form1->PortOpen = 1;
        Form1->StopBits = platform::kDefaultLineSettings.stopBits;
        Form1->TXRXStop_ButtonClick(nullptr); // closes the port, stops the timers, enables RX Start
        for (int i : { 0, 1 }) // counted right after the exchange's and the receive test's handlers
            QObject::connect(i ? Form1->RXStart_Timer : Form1->PCTest_Timer, &platform::WindowTimer::tick,
                &context, [this, i] { ++ticks[i]; });
    }
    bool ticked(int timer, int n) const
    {
        return waitUntil([&] { return ticks[timer] >= n; });
    }
    // Nobody holds the pty: this process can take it exclusively (and gives it back at once).
    bool isFree() const
    {
        const platform::OpenResult opened = platform::openDeviceExclusive(pty.slavePath());
        platform::closePort(opened.handle, platform::UnreadInput::Keep);
        return platform::isPort(opened.handle);
    }
    TestState state() const
    {
        return { Form1->PCTest_Timer->enabled(), Form1->RXStart_Timer->enabled(),
            Form1->RXStart_Button->isEnabled(), Form1->PortOpen, platform::isPort(hComm), !isFree() };
    }

    PtyPair pty;
    int ticks[2] = {};
    QObject context;
    QElapsedTimer clock;
};

TEST_F(Exchange, TxStartSendsTheTextsUtf8BytesAndShowsTheReplyAtTheTick500MsLater)
{
    // A zero byte ends the reply; nothing came back; nothing typed, yet the tick still reads; one byte.
    const std::tuple<QString, Bytes, QString> rows[] = { { "é€ ok", Bytes("AB\0CD", 5), "AB" },
        { "ping", "", "" }, { "", "HELLO", "HELLO" }, { "1", "y", "y" } };
    const MessageBoxWatcher boxes;
    for (int i = 0; const auto& [typed, reply, shown] : rows) {
        std::memcpy(Form1->RxBuffer, "prev", 5);
        Form1->RX_Edit->setText("typed over");
        Form1->RX_Edit->setFocus();
        clock.start();
        Form1->TX_Edit->setText(typed);
        Form1->PCTest_Button->click();
        EXPECT_EQ(pty.read(typed.toUtf8().size() + 1, 100ms), typed.toStdString()) << "no more than the text";
        ASSERT_EQ(pty.write(reply), reply.size());
        ASSERT_TRUE(ticked(0, ++i));
        EXPECT_GE(clock.elapsed(), 490) << "the tick came 500 ms after the click";
        EXPECT_EQ(Form1->RX_Edit->text().toStdString(), shown.toStdString()) << i;
        EXPECT_EQ(Form1->RX_Edit->cursorPosition(), 0) << "shown from its start";
        EXPECT_EQ(Form1->focusWidget(), Form1->TX_Edit);
        EXPECT_EQ(state(), kIdle) << "after the tick";
    }
    Form1->StopBits = 1; // one and a half stop bits: no tty has them
    Form1->PCTest_Button->click();
    EXPECT_EQ(pty.readAvailable(), "") << "nothing sent on refused settings";
    EXPECT_EQ(state(), (TestState { true, false, true, 1, false, false }))
        << "the click goes on without a port";
    ASSERT_EQ(boxes.seen().size(), 1u) << "refused settings only";
    EXPECT_EQ(boxes.seen()[0].text, "通訊埠設定錯誤!!!");
}

TEST_F(Exchange, RxStartHoldsThePortAndShowsTheFirstEightBytesInHexEachTick)
{
    std::memset(Form1->RxBuffer, 0xEE, sizeof Form1->RxBuffer);
    Form1->RX_Edit->setText("typed");
    Form1->RX_Edit->setCursorPosition(0);
    const Bytes zero(8, '\0'), ten = zero.substr(1) + "\xAB\x55\x66"; // byte 7 alone is enough to show
    const std::tuple<Bytes, Bytes, QString> rows[] = { { "", zero + "\xEE", "typed" }, // nothing waiting
        { "xyz", "xyz" + zero.substr(3) + "\xEE", "0x78 0x79 0x7A 0x00 0x00 0x00 0x00 0x00" },
        { ten, ten.substr(0, 9), "0x00 0x00 0x00 0x00 0x00 0x00 0x00 0xAB" } };
    const MessageBoxWatcher boxes;
    Form1->RXStart_Button->click();
    for (int i = 0; const auto& [arrives, firstNine, shown] : rows) {
        ASSERT_EQ(pty.write(arrives), arrives.size());
        ASSERT_TRUE(ticked(1, ++i));
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(Form1->RxBuffer), 9), firstNine) << i;
        EXPECT_EQ(Form1->RX_Edit->text().toStdString(), shown.toStdString()) << i;
        EXPECT_EQ(Form1->RX_Edit->cursorPosition(), 0) << "shown from Data[0]";
        EXPECT_EQ(state(), (TestState { false, true, false, 1, true, true })) << "the receive test goes on";
    }
    const std::clock_t cpu = std::clock(); // the far end vanishes: bounded ticks; TX Start finds no port
    pty.closeMaster();
    ASSERT_TRUE(ticked(1, 5));
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10) << "no busy loop on a gone port";
    Form1->PCTest_Button->click();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, kOpenError);
    ASSERT_TRUE(ticked(0, 1));
    const TestState endedOnAGonePty { false, false, true, 0, false, true }; // a gone pty cannot be taken
    EXPECT_EQ(state(), endedOnAGonePty) << "TX Start's tick ended the receive test and gave RX Start back";
}

// A click lets go of the port before it reopens it; an earlier click's tick may run inside its box.
TEST_F(Exchange, AClickDuringAnExchangeLetsGoOfThePortFirstAndKeepsTheTickThatIsDue)
{
    const MessageBoxWatcher boxes([&] {
        EXPECT_EQ(Form1->PortOpen, 0) << "the click let go of the port before it reopened";
        EXPECT_TRUE(isFree()) << "the click let go of the port before it reopened";
        ticked(0, 1);
    });
    Form1->TX_Edit->setText("ONE");
    Form1->PCTest_Button->click();
    ASSERT_EQ(pty.write("ONE"), 3u);
    ports.mapComPort(1, kMissing);
    std::memcpy(Form1->RxBuffer, "last", 5);
    Form1->PCTest_Button->click(); // closes the port, cannot open the missing one, and waits in its box
    ASSERT_EQ(ticks[0], 1) << "the earlier click's tick ran inside the box";
    EXPECT_EQ(Form1->RX_Edit->text(), "last") << "with the port already closed";
    EXPECT_EQ(state(), (TestState { true, false, true, 1, false, false }))
        << "the click goes on after its box";
    ASSERT_TRUE(ticked(0, 2));
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].caption + ": " + boxes.seen()[0].text + " / " + boxes.seen()[0].detail,
        "ERROR: " + kOpenError + " / missing: no device " + kMissing);
}

// The check holds the dialog's committed port only while its box is up, leaving its input alone.
TEST_F(Exchange, PortCheckTriesTheDialogsCommittedPort)
{
    ASSERT_EQ(pty.write("unread"), 6u);
    ports.mapComPort(2, pty.slavePath());
    // The dialog's committed port, where COM1 leads, whether the check passes, and why not.
    const std::tuple<std::string, std::string, bool, std::string> rows[]
        = { { "COM1", pty.slavePath(), true, "" }, { "COM2", kMissing, true, "" },
              { "COM1", kMissing, false, "missing: no device " + kMissing },
              { "", pty.slavePath(), false, "missing: not a port name" } };
    for (int i = 0; const auto& [port, com1, passes, why] : rows) {
        SCOPED_TRACE(i++);
        ports.mapComPort(1, com1);
        Form23->CurPortName = port;
        bool held = false;
        const MessageBoxWatcher boxes([&] { held = !isFree(); });
        Form1->SerialPortTest->trigger();
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].caption + ": " + boxes.seen()[0].text + " / " + boxes.seen()[0].detail,
            (passes ? "OK: 通訊埠測試正常" : "ERROR: " + kOpenError) + " / " + why);
        EXPECT_EQ(held, passes) << "held while the box was up";
        EXPECT_EQ(state(), kIdle) << "nothing held after the box";
        EXPECT_EQ(platform::bytesWaiting(pty.slaveFd()), 6) << "its input left alone";
    }
}

// Last: it ends the application.
TEST_F(Exchange, ExitEndsEveryLoopAtOnceWithAPortOpenAndABoxUp)
{
    Form1->RXStart_Button->click();
    ASSERT_TRUE(ticked(1, 1));
    const int ticksAtExit = ticks[1];
    const MessageBoxWatcher exitInTheBox([&] {
        clock.start();
        Form1->FileExit->trigger();
    });
    bool boxReturned = false;
    QTimer::singleShot(0, [&] {
        platform::messageBox("another step's", "ERROR");
        boxReturned = true;
    });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); }); // a hang fails rather than times out
    ASSERT_EQ(QCoreApplication::exec(), 0);
    EXPECT_LT(clock.elapsed(), 2000) << "Exit ends the loops at once";
    EXPECT_TRUE(boxReturned) << "the other step's box returned";
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_EQ(ticks[1], ticksAtExit) << "no tick after Exit";
    EXPECT_TRUE(platform::isPort(hComm)) << "the port is left for the system to release";
}
