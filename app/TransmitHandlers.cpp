// "TX Start": open, send the typed text, and show what came back at the one tick 500 ms later.
#include "app/Main.h"

#include "app/TextCodec.h"

void TForm1::PCTest_ButtonClick(QObject*)
{
    RS232Port.OpenPort();
    PortOpen = 1;
    TextMode = 1;
    TxText = toNarrowBytes(TX_Edit->text());
    RS232Port.SendData();
    PCTest_Timer->setEnabled(true);
}

void TForm1::PCTest_TimerTimer(QObject*)
{
    PCTest_Timer->setEnabled(false);
    RS232Port.ReceiveData();
    RX_Edit->setText(fromNarrowBytes(RxBuffer, sizeof RxBuffer));
    RX_Edit->setCursorPosition(0); // a long reply shows from its start
    RS232Port.ClosePort();
    RXStart_Timer->setEnabled(false);
    TX_Edit->setFocus(Qt::OtherFocusReason);
    PortOpen = 0;
    RXStart_Button->setEnabled(true);
}
