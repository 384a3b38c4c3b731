// "RX Start": hold the port open and take in what arrived, every 500 ms, until an exchange's tick
// or the stop routine ends it.
#include "app/Main.h"

#include "app/TextCodec.h"

#include <algorithm>

void TForm1::RXStart_ButtonClick(QObject*)
{
    RS232Port.OpenPort();
    PortOpen = 1;
    RXStart_Button->setEnabled(false);
    RXStart_Timer->setEnabled(true);
}

void TForm1::RXStart_TimerTimer(QObject*)
{
    std::fill(RxBuffer, RxBuffer + 8, 0);
    RS232Port.ReceiveData();
    // The button promises Data[0]~Data[7]: show them whenever one of them arrived.
    if (std::any_of(RxBuffer, RxBuffer + 8, [](uint8_t byte) { return byte != 0; })) {
        RX_Edit->setText(hexBytes(RxBuffer, 8));
        RX_Edit->setCursorPosition(0); // the box is narrow: show Data[0] first, not the tail
    }
}
