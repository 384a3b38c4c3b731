// Serial port access for the tests of the main window. TRS232 keeps no state of its own: the port
// is hComm, and everything else is the main window's test state record, reached through Form1.
#pragma once

#include "platform/tty/SerialPort.h"

// The open port, kNeverOpened before any open, kInvalidPort after a failed open or a close.
extern platform::PortHandle hComm;

class TRS232 {
public:
    // Closes the port a test still holds, opens PortName exclusively and applies the line
    // settings; a failure is shown in a message box and leaves no port.
    void OpenPort();
    // With TextMode 1, writes the bytes of TxText (within the write bound).
    void SendData();
    // Takes at most 128 waiting bytes into RxBuffer, or discards them all when more wait.
    void ReceiveData();
    // Closes the port and clears PortOpen; with no port it does nothing.
    void ClosePort();
};
