#include "app/Rs232.h"

#include "app/Main.h"
#include "headless/Commands.h"
#include "platform/toolkit/MessageBox.h"
#include "serial/PortRules.h"

platform::PortHandle hComm = platform::kNeverOpened;

void TRS232::OpenPort()
{
    if (Form1->PortOpen == 1) {
        Form1->PortOpen = 0;
        serial::closeAndForget(hComm);
    }
    const platform::LineSettings request { platform::lineSpeed(Form1->BaudRate), Form1->Parity,
        Form1->ByteSize, Form1->StopBits, Form1->PortName };
    serial::OpenOutcome outcome; // filled before the report, which names the cause of an open failure
    serial::openAndConfigure(
        hComm, request,
        [&outcome](const char* message) {
            const bool openFailed = std::string(message) == serial::kOpenError;
            platform::reportError(message, openFailed ? headless::openFailureText(outcome.opened) : "");
        },
        &outcome);
}

void TRS232::SendData()
{
    if (!platform::isPort(hComm) || Form1->TextMode != 1)
        return;
    Form1->TxChars = Form1->TxText.c_str();
    serial::sendBytes(hComm, std::string(Form1->TxChars, Form1->TxText.size()));
}

void TRS232::ReceiveData()
{
    serial::receiveInto(hComm, Form1->RxBuffer);
}

void TRS232::ClosePort()
{
    if (!platform::isPort(hComm))
        return;
    serial::closeAndForget(hComm);
    Form1->PortOpen = 0;
}
