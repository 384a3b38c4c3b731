// "TX Start" and "RX Start" over a pty mapped as COM1: what goes out and what shows, the messages,
// clicks and ticks that overlap, the port check, a device that stalls, vanishes, floods or streams,
// and Exit with a port open.
#include "platform/registry/PortRegistry.h"
#include "platform/toolkit/MessageBox.h"
#include "support/HolderProcess.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/ioctl.h>

using namespace std::chrono_literals;
using Bytes = std::string;
const std::string kOpenError = "開啟通訊埠錯誤!!", kSettingsError = "通訊埠設定錯誤!!!";
const std::string kMissing = "/dev/comtest-no-such-device";
platform::PortRegistry& ports = platform::PortRegistry::instance();

struct Clock : QElapsedTimer {
    Clock() { start(); }
};

// The first eight bytes in hex, as RX Start shows them.
QString hex8(Bytes bytes)
{
    QStringList shown;
    for (bytes.resize(8); unsigned char byte : bytes)
        shown << QString::asprintf("0x%02X", byte);
    return shown.join(' ');
}

class Exchange : public WindowOverPty {
protected:
    // TX Start with text typed; the device takes what arrives (size bytes) and answers reply.
    void send(const QString& text, const Bytes& reply = "", size_t size = 0)
    {
        Form1->TX_Edit->setText(text);
        clickTxStart();
        EXPECT_EQ(pty.read(size + 1, 100ms), text.toStdString().substr(0, size)) << "no more than the text";
        ASSERT_EQ(pty.write(reply), reply.size());
    }
    static Bytes firstBytes(size_t count) { return Bytes(reinterpret_cast<char*>(Form1->RxBuffer), count); }
};

TEST_F(Exchange, TxStartSendsTheTextsUtf8BytesAndShowsTheReplyAtTheTick500MsLater)
{
    // A zero byte ends the text; nothing arrived; nothing sent but the tick still reads; more than 128
    // bytes are thrown away and the previous reception shows.
    const std::tuple<QString, Bytes, QString> rows[] = { { "é€ ok", Bytes("AB\0CD", 5), "AB" },
        { "ping", "", "" }, { "", "HELLO", "HELLO" }, { "q", Bytes(10000, 'z'), "prev" } };
    const MessageBoxWatcher boxes;
    for (int i = 0; const auto& [typed, reply, shown] : rows) {
        std::memcpy(Form1->RxBuffer, "prev", 5);
        Form1->RX_Edit->setText("typed over");
        Form1->RX_Edit->setFocus();
        const Clock clock;
        send(typed, reply, typed.toUtf8().size());
        ASSERT_TRUE(exchangeTicks(++i));
        EXPECT_TRUE(
            clock.elapsed() >= 490 && Form1->RX_Edit->text() == shown && !Form1->RX_Edit->cursorPosition())
            << i << ": " << Form1->RX_Edit->text().toStdString() << ", shown from its start";
        EXPECT_TRUE(Form1->focusWidget() == Form1->TX_Edit && isFree(pty.slavePath()));
        expectTestsEnded();
    }
    spinFor(600ms);
    EXPECT_TRUE(ticks[0] == 4 && boxes.seen().empty()) << "one tick per click";
}

TEST_F(Exchange, RxStartHoldsThePortAndShowsTheFirstEightBytesEachTickUntilAnExchangeEndsIt)
{
    std::memset(Form1->RxBuffer, 0xEE, sizeof Form1->RxBuffer);
    Form1->RX_Edit->setText("typed");
    Form1->RX_Edit->setCursorPosition(0);
    const Bytes zero(8, '\0'), ten = zero.substr(1) + "\xAB\x55\x66";
    const std::tuple<Bytes, Bytes, QString> rows[] = { { "", zero + "\xEE", "typed" }, // nothing waiting
        { "xyz", "xyz" + zero.substr(3) + "\xEE", hex8("xyz") }, // the rest of the first eight zeroed
        { ten, ten.substr(0, 9), hex8(ten) }, // byte 7 alone is enough to show
        { Bytes(10000, 'f'), zero + "\x55", hex8(ten) }, // a flood between ticks: discarded, nothing shown
        { "ok", "ok" + zero.substr(2) + "\x55", hex8("ok") } };
    const MessageBoxWatcher boxes;
    clickRxStart();
    for (int i = 0; const auto& [arrives, firstNine, shown] : rows) {
        ASSERT_EQ(pty.write(arrives), arrives.size());
        ASSERT_TRUE(receiveTicks(++i));
        EXPECT_TRUE(firstBytes(9) == firstNine && Form1->RX_Edit->text() == shown
            && !Form1->RX_Edit->cursorPosition())
            << i << ": " << Form1->RX_Edit->text().toStdString() << ", shown from Data[0]";
        EXPECT_TRUE(Form1->RXStart_Timer->enabled() && !Form1->RXStart_Button->isEnabled()
            && Form1->PortOpen == 1 && !isFree(pty.slavePath()));
    }
    // TX Start between two receive ticks: the next one takes the reply, the exchange's tick ends both.
    spinFor(150ms);
    send("ABC", "ABC", 3);
    ASSERT_TRUE(receiveTicks(6));
    EXPECT_TRUE(Form1->RX_Edit->text() == hex8("ABC") && !Form1->RXStart_Button->isEnabled());
    ASSERT_TRUE(exchangeTicks(1));
    EXPECT_EQ(Form1->RX_Edit->text(), "");
    expectTestsEnded();
    spinFor(600ms);
    EXPECT_TRUE(ticks[1] == 6 && boxes.seen().empty());
}

TEST_F(Exchange, OverlappingClicksAndTicksEachDoTheirPart)
{
    const MessageBoxWatcher boxes(true, [&] {
        EXPECT_EQ(Form1->PortOpen, 0) << "the click let go of the port before it tried to reopen";
        exchangeTicks(2);
    });
    // A second click while an exchange waits reopens the port, dropping the first echo, and keeps the
    // tick that is due.
    const Clock clock;
    send("ONE", "ONE", 3);
    ASSERT_TRUE(
        waitUntil([&] { return platform::bytesWaiting(pty.slaveFd()) == 3 && clock.elapsed() >= 250; }));
    const qint64 secondClickAt = clock.elapsed();
    send("TWO", "TWO", 3);
    ASSERT_TRUE(exchangeTicks(1));
    EXPECT_LT(clock.elapsed() - secondClickAt, 490) << "the second click did not postpone the tick";
    EXPECT_EQ(Form1->RX_Edit->text(), "TWO");
    // The tick of an earlier click runs inside the message box of a later one, which goes on after it.
    clickTxStart();
    ports.mapComPort(1, kMissing);
    std::memcpy(Form1->RxBuffer, "last", 5);
    clickTxStart(); // closes the port, cannot open the missing one, and waits in its box
    ASSERT_EQ(ticks[0], 2) << "the earlier click's tick ran inside the box";
    EXPECT_EQ(Form1->RX_Edit->text(), "last") << "the failed reopen had closed the port first";
    EXPECT_TRUE(Form1->PortOpen == 1 && Form1->PCTest_Timer->enabled()) << "the click goes on after its box";
    ASSERT_TRUE(exchangeTicks(3));
    // Every click on a port that cannot be opened shows the message once; the ticks show none.
    clickRxStart();
    ASSERT_TRUE(receiveTicks(2));
    EXPECT_TRUE(Form1->PortOpen == 1 && !Form1->RXStart_Button->isEnabled())
        << "the test runs without a port";
    ASSERT_EQ(boxes.seen().size(), 2u);
    for (const SeenBox& box : boxes.seen())
        EXPECT_TRUE(box.caption == "ERROR" && box.text == kOpenError) << box.caption << ": " << box.text;
}

TEST_F(Exchange, RefusedSettingsShowTheirMessageAndLeaveNoPortEvenWhenATickClosedItMeanwhile)
{
    Form1->StopBits = 1; // one and a half stop bits: no tty has them
    int refused = -1, stranger = -1;
    const MessageBoxWatcher boxes(true, [&] {
        if (std::exchange(refused, hComm) < 0)
            return; // the first click's box
        // The second one's: the first click's tick closes the refused port, and its descriptor number
        // goes to someone else, whose file the end of the refusal must leave alone.
        exchangeTicks(1);
        const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        stranger
            = platform::isPort(hComm) || devNull == refused ? devNull : dup3(devNull, refused, O_CLOEXEC);
        if (stranger != devNull)
            close(devNull);
    });
    clickTxStart();
    EXPECT_TRUE(!platform::isPort(hComm) && isFree(pty.slavePath()));
    clickTxStart();
    ASSERT_TRUE(platform::isPort(refused) && stranger == refused) << "the tick had closed the refused port";
    EXPECT_NE(fcntl(stranger, F_GETFD), -1) << "the descriptor that is no longer ours stays open";
    close(stranger);
    ASSERT_TRUE(exchangeTicks(2));
    EXPECT_TRUE(pty.readAvailable().empty() && isFree(pty.slavePath())) << "nothing sent, no port left";
    ASSERT_EQ(boxes.seen().size(), 2u);
    EXPECT_TRUE(boxes.seen()[0].text == kSettingsError && boxes.seen()[1].text == kSettingsError);
}

TEST_F(Exchange, PortCheckTriesTheDialogsCommittedPortAndLeavesEverythingElseAlone)
{
    const platform::OpenResult setUp = platform::openDeviceExclusive(pty.slavePath());
    ASSERT_TRUE(platform::applyLineSettings(setUp.handle, { 1200, 0, 8, 2 }));
    platform::closePort(setUp.handle);
    ASSERT_EQ(pty.write("unread"), 6u);
    Form23->CurBaudRate = 115200; // the check applies no line settings
    ports.mapComPort(2, pty.slavePath());
    enum Holder { nobody, anotherProcess, ourReceiveTest };
    // The dialog's committed port, where COM1 leads, who holds the pty, and whether the check passes.
    const std::tuple<std::string, std::string, Holder, bool> rows[]
        = { { "COM1", pty.slavePath(), nobody, true }, { "COM2", kMissing, nobody, true },
              { "COM1", kMissing, nobody, false }, { "", pty.slavePath(), nobody, false },
              { "COM1", pty.slavePath(), anotherProcess, false },
              { "COM1", pty.slavePath(), ourReceiveTest, false } };
    for (int i = 0; const auto& [port, com1, holder, passes] : rows) {
        SCOPED_TRACE(i++);
        ports.mapComPort(1, com1);
        Form23->CurPortName = port;
        bool held = false;
        const MessageBoxWatcher boxes(true, [&] { held = !isFree(pty.slavePath()); });
        std::optional<HolderProcess> other;
        if (holder == anotherProcess)
            other.emplace(pty.slavePath());
        if (holder == ourReceiveTest)
            clickRxStart();
        Form1->SerialPortTest->trigger();
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].caption, passes ? "OK" : "ERROR");
        EXPECT_EQ(boxes.seen()[0].text, passes ? "通訊埠測試正常" : kOpenError);
        int waiting = 0;
        platform::LineBits line;
        EXPECT_TRUE(!passes
            || (held && isFree(pty.slavePath()) && !platform::isPort(hComm)
                && !ioctl(pty.slaveFd(), FIONREAD, &waiting) && waiting == 6 && pty.slaveLine(line)
                && platform::outputSpeed(line) == 1200))
            << "held only while the box is up; waiting input and line settings untouched";
    }
    EXPECT_TRUE(platform::isPort(hComm) && Form1->PortOpen == 1) << "the receive test keeps its port";
    clickTxStart(); // both tests running: the stop routine (as a settings file's Open runs it) ends them
    Form1->TXRXStop_ButtonClick(nullptr);
    expectTestsEnded();
    EXPECT_TRUE(isFree(pty.slavePath()));
    Form23->ResetToDefaults();
}

TEST_F(Exchange, AFaultyDeviceNeverHoldsTheWindowUp)
{
    // A device that never reads: TX Start gives up at the write bound, the time of 60,000 characters
    // of ten bits at 921,600 baud plus a second.
    Form1->BaudRate = 921600;
    Form1->TX_Edit->setText(QString(60000, 'a'));
    Clock clock;
    clickTxStart();
    EXPECT_LT(clock.elapsed(), 60000 * 10 * 1000 / 921600 + 1000 + 1500);
    EXPECT_LT(pty.read(60000, 200ms).size(), 60000u) << "the device took only part of it";
    // One that vanishes during an exchange's wait: the tick ends the exchange at once.
    ASSERT_TRUE(exchangeTicks(1));
    clock.start();
    send("hello", "", 5);
    pty.closeMaster();
    ASSERT_TRUE(exchangeTicks(2));
    EXPECT_TRUE(clock.elapsed() < 1000 && Form1->RX_Edit->text().isEmpty());
    expectTestsEnded();
    // One that vanishes during a receive test: the ticks go on, cheap, and show nothing.
    PtyPair second, third;
    ports.mapComPort(1, second.slavePath());
    clickRxStart();
    ASSERT_TRUE(second.write("ab") == 2u && receiveTicks(1));
    second.closeMaster();
    const std::clock_t cpu = std::clock();
    ASSERT_TRUE(receiveTicks(4));
    EXPECT_LT(double(std::clock() - cpu) / CLOCKS_PER_SEC, 0.15) << "CPU time over three ticks";
    EXPECT_TRUE(
        firstBytes(8) == Bytes(8, '\0') && !Form1->RXStart_Button->isEnabled() && !visibleMessageBox());
    // A steady stream, far more than a tick takes: the ticks stay on time, then show what comes next.
    resetMainWindowToIdle();
    ports.mapComPort(1, third.slavePath());
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] { third.write(Bytes(64, 'S'), 0ms); });
    stream.start(5);
    const int before = ticks[1];
    clock.start();
    clickRxStart();
    ASSERT_TRUE(waitUntil([&] { return ticks[1] >= before + 6; }, 5s));
    EXPECT_LT(clock.elapsed(), 3600) << "six ticks 500 ms apart";
    stream.stop();
    ASSERT_TRUE(receiveTicks(before + 7) && third.write("end") == 3u && receiveTicks(before + 8));
    EXPECT_EQ(Form1->RX_Edit->text(), hex8("end"));
}

// Last: it ends the application.
TEST_F(Exchange, ExitEndsEveryLoopAtOnceWithAPortOpenAndABoxUp)
{
    clickRxStart();
    int ticksAtExit = -1;
    Clock sinceExit;
    QTimer exitWhenTicking;
    QObject::connect(&exitWhenTicking, &QTimer::timeout, [&] {
        if (visibleMessageBox() && ticks[1] > 0 && ticksAtExit < 0)
            ticksAtExit = ticks[1], sinceExit.start(), Form1->FileExit->trigger();
    });
    exitWhenTicking.start(10);
    bool boxReturned = false;
    QTimer::singleShot(
        0, [&] { platform::messageBox("a box of another step", "ERROR"), boxReturned = true; });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); }); // a hang fails rather than times out
    ASSERT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(sinceExit.elapsed() < 2000 && boxReturned && !Form1->isVisible());
    EXPECT_EQ(ticks[1], ticksAtExit) << "no tick after Exit";
    EXPECT_TRUE(platform::isPort(hComm)) << "the port is left for the system to release";
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
