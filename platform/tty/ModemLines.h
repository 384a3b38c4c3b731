// The modem control lines of an open port: RTS and DTR out, CTS, DSR, DCD and RI in.
//
// Principles of operation
//   A driver either has modem lines or it has none (a pseudo-terminal has none: asking for them
//   fails); readModemInputs tells which. Setting an output changes that line only and leaves the
//   others as they are. On failure nothing is changed.
//   Loop mode (a 16550's internal loop-back, TIOCM_LOOP) turns the port into its own plug: what it
//   sends comes back, CTS follows RTS, DSR follows DTR and DCD follows OUT2. It must never outlive
//   us: it is released with the port, on every way out (ExitPath.h).
//
// Interface summary
//   readModemInputs           CTS, DSR, DCD and RI now; nothing when the driver has no modem lines
//   readModemOutputs          RTS and DTR as the driver has them now; nothing without modem lines
//   setRequestToSend          raise or drop RTS
//   setDataTerminalReady      raise or drop DTR
//   setOut2                   raise or drop OUT2 (a UART's auxiliary output)
//   startLoopMode             turn loop mode on, if the driver offers it
//   endLoopMode               turn it off again
//   inLoopMode                whether the port is in loop mode now (ours or left by another run)
//   clearLoopMode             turn it off, whoever turned it on
#pragma once

#include "platform/tty/SerialPort.h"

#include <optional>

namespace platform {

struct ModemInputs {
    bool clearToSend = false; // CTS
    bool dataSetReady = false; // DSR
    bool carrierDetect = false; // DCD
    bool ringIndicator = false; // RI
};

struct ModemOutputs {
    bool requestToSend = false; // RTS
    bool dataTerminalReady = false; // DTR
};

std::optional<ModemInputs> readModemInputs(PortHandle port);
std::optional<ModemOutputs> readModemOutputs(PortHandle port);

// Each returns false when the driver refused (the line is then as it was).
bool setRequestToSend(PortHandle port, bool on);
bool setDataTerminalReady(PortHandle port, bool on);
bool setOut2(PortHandle port, bool on);

// True when the driver took loop mode and reports it on (one port at a time).
bool startLoopMode(PortHandle port);
// Ends loop mode if this port has it on; nothing otherwise.
void endLoopMode(PortHandle port);

bool inLoopMode(PortHandle port);
void clearLoopMode(PortHandle port);

} // namespace platform
