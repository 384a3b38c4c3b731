// "TX Start" on the real window over a pty: open, send the typed text, and at the one tick 500 ms
// later show what came back and close the port.
#include "port_window_fixture.h"

#include "app/Rs232.h"

namespace {

class ExchangeOverPty : public WindowOverPty { };

const std::string kOpenError = "開啟通訊埠錯誤!!";
const std::string kSettingsError = "通訊埠設定錯誤!!!";

} // namespace

TEST_F(ExchangeOverPty, LoopBackShowsAbcThenClosesThePortAndFocusesTxEdit)
{
    FarEnd farEnd(pty, FarEnd::echo());
    typeIntoTxEdit("ABC");
    Form1->RX_Edit->setFocus();
    TickLog log;

    clickTxStart();
    const qint64 clickedAt = log.nowMs();
    EXPECT_TRUE(Form1->PCTest_Timer->enabled()) << "the exchange waits for its tick";
    EXPECT_EQ(Form1->PortOpen, 1);
    EXPECT_TRUE(Form1->PCTest_Button->isEnabled());
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_GE(log.last("exchange")->atMs - clickedAt, 490) << "the tick comes 500 ms after the send";
    EXPECT_EQ(farEnd.received(), "ABC") << "bytes on the wire: the text and nothing after it";
    EXPECT_EQ(Form1->RX_Edit->text(), "ABC");
    EXPECT_FALSE(Form1->PCTest_Timer->enabled()) << "the exchange ticks once";
    EXPECT_FALSE(platform::isPort(hComm));
    EXPECT_TRUE(portIsFree()) << "the port is closed after the tick";
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_EQ(Form1->focusWidget(), Form1->TX_Edit) << "focus is back in TX_Edit for the next text";
    EXPECT_TRUE(Form1->RXStart_Button->isEnabled());
    spinFor(700ms);
    EXPECT_EQ(log.count("exchange"), 1u) << "no second tick";
}

TEST_F(ExchangeOverPty, TextGoesOutAsItsUtf8BytesAndComesBackAsTheSameText)
{
    FarEnd farEnd(pty, FarEnd::echo());
    Form1->TX_Edit->setText(QString::fromUtf8("é€ ok"));
    TickLog log;

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(farEnd.received(), "\xC3\xA9\xE2\x82\xAC ok") << "the UTF-8 bytes, no terminator";
    EXPECT_EQ(Form1->TxText, "\xC3\xA9\xE2\x82\xAC ok");
    EXPECT_EQ(Form1->TextMode, 1);
    EXPECT_EQ(Form1->RX_Edit->text(), QString::fromUtf8("é€ ok"));
}

TEST_F(ExchangeOverPty, LongTextGoesOutWholeInOneSend)
{
    FarEnd farEnd(pty, FarEnd::silent());
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += static_cast<char>('a' + i % 26);
    Form1->TX_Edit->setText(QString::fromStdString(text));
    TickLog log;

    clickTxStart();
    // The send has finished before the click returns: every byte is on its way already.
    EXPECT_TRUE(PtyPair::waitUntil([&] { return farEnd.received().size() >= text.size(); }, 2s));
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(farEnd.received(), text) << "all 300 bytes, in order, nothing more";
    EXPECT_EQ(Form1->RX_Edit->text(), "") << "nothing came back";
}

TEST_F(ExchangeOverPty, ReplyWithZeroByteShowsTextBeforeIt)
{
    FarEnd farEnd(pty, FarEnd::replyOnce(std::string("AB\0CD", 5)));
    Form1->TX_Edit->setText("?");
    TickLog log;

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(Form1->RX_Edit->text(), "AB");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Form1->RxBuffer), 6), std::string("AB\0CD\0", 6))
        << "all five bytes were read, the terminator after them";
}

TEST_F(ExchangeOverPty, NothingArrivingEmptiesRxEdit)
{
    FarEnd farEnd(pty, FarEnd::silent());
    putIntoRxBuffer("old");
    Form1->RX_Edit->setText("old");
    Form1->TX_Edit->setText("ping");
    TickLog log;

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(farEnd.received(), "ping");
    EXPECT_EQ(Form1->RX_Edit->text(), "");
    EXPECT_EQ(Form1->RxBuffer[0], 0);
    EXPECT_EQ(Form1->RxBuffer[1], 'l') << "only byte 0 becomes the terminator";
}

TEST_F(ExchangeOverPty, ExactlyAFullBufferOf128BytesIsShownWhole)
{
    const std::string reply(128, 'x');
    FarEnd farEnd(pty, FarEnd::replyOnce(reply));
    Form1->TX_Edit->setText("?");
    TickLog log;

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(Form1->RX_Edit->text().toStdString(), reply);
    EXPECT_EQ(Form1->RX_Edit->cursorPosition(), 0) << "a long reply shows from its start";
    EXPECT_EQ(Form1->RxBuffer[128], 0) << "the terminator takes the last byte of the buffer";
}

TEST_F(ExchangeOverPty, MoreThan128BytesAreDiscardedAndThePreviousReceptionShowsAgain)
{
    {
        FarEnd farEnd(pty, FarEnd::replyOnce("previous"));
        Form1->TX_Edit->setText("1");
        TickLog log;
        clickTxStart();
        ASSERT_TRUE(log.waitFor("exchange", 1));
        ASSERT_EQ(Form1->RX_Edit->text(), "previous");
    }
    Form1->RX_Edit->setText("typed over");
    FarEnd farEnd(pty, FarEnd::replyOnce(std::string(200, 'z')));
    Form1->TX_Edit->setText("2");
    TickLog log;

    clickTxStart();
    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(farEnd.received(), "2");
    EXPECT_EQ(Form1->RX_Edit->text(), "previous");
    EXPECT_TRUE(portIsFree());
}

TEST_F(ExchangeOverPty, EmptyTxEditSendsNothingButTheTickStillReadsShowsAndCloses)
{
    TickLog log;
    clickTxStart();
    EXPECT_EQ(Form1->TxText, "");
    ASSERT_EQ(pty.write("HELLO"), 5u) << "the far end speaks by itself";

    ASSERT_TRUE(log.waitFor("exchange", 1));

    EXPECT_EQ(pty.readAvailable(), "") << "nothing on the wire";
    EXPECT_EQ(Form1->RX_Edit->text(), "HELLO");
    EXPECT_TRUE(portIsFree());
    EXPECT_EQ(Form1->PortOpen, 0);
}

TEST_F(ExchangeOverPty, PortThatCannotBeOpenedShowsOneMessageAndTheExchangeRunsItsCourse)
{
    const auto holder = platform::openDeviceExclusive(pty.slavePath());
    ASSERT_TRUE(platform::isPort(holder.handle)) << "another program holds the port";
    putIntoRxBuffer("last read");
    Form1->RX_Edit->setText("typed over");
    Form1->TX_Edit->setText("ABC");
    MessageBoxWatcher watcher;
    TickLog log;

    clickTxStart();
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, kOpenError);
    EXPECT_EQ(watcher.seen()[0].caption, "ERROR");
    EXPECT_EQ(Form1->PortOpen, 1) << "the click goes on as if the port were open";
    EXPECT_EQ(Form1->TxText, "ABC");
    EXPECT_TRUE(Form1->PCTest_Timer->enabled());

    ASSERT_TRUE(log.waitFor("exchange", 1));
    EXPECT_EQ(Form1->RX_Edit->text(), "last read") << "the text of the last read shows again";
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_EQ(watcher.seen().size(), 1u) << "the tick shows no second message";
    EXPECT_EQ(pty.readAvailable(), "") << "nothing was sent";
    platform::closePort(holder.handle);
}

TEST_F(ExchangeOverPty, RefusedSettingsShowTheirMessageAndLeaveNoPortOpen)
{
    FarEnd farEnd(pty, FarEnd::echo());
    Form1->StopBits = 1; // one and a half stop bits: a tty has no such setting
    Form1->TX_Edit->setText("ABC");
    MessageBoxWatcher watcher;
    TickLog log;

    clickTxStart();
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, kSettingsError);
    EXPECT_EQ(watcher.seen()[0].caption, "ERROR");
    EXPECT_FALSE(platform::isPort(hComm));
    EXPECT_TRUE(portIsFree()) << "the refused port was closed";

    ASSERT_TRUE(log.waitFor("exchange", 1));
    EXPECT_EQ(farEnd.received(), "") << "nothing was sent";
    EXPECT_EQ(Form1->RX_Edit->text(), "");
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_EQ(watcher.seen().size(), 1u);
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
