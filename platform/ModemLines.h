// The modem control lines of an open port: RTS and DTR out, CTS, DSR and DCD in.
//
// Principles of operation
//   A driver either has modem lines or it has none (a pseudo-terminal has none: asking for them
//   fails); readModemInputs tells which. Setting an output changes that line only and leaves the
//   others as they are. On failure nothing is changed.
//
// Interface summary
//   readModemInputs           CTS, DSR and DCD now; nothing when the driver has no modem lines
//   setRequestToSend          raise or drop RTS
//   setDataTerminalReady      raise or drop DTR
#pragma once

#include "SerialPort.h"

#include <optional>

namespace platform {

struct ModemInputs {
    bool clearToSend = false; // CTS
    bool dataSetReady = false; // DSR
    bool carrierDetect = false; // DCD
};

std::optional<ModemInputs> readModemInputs(PortHandle port);

// Each returns false when the driver refused (the line is then as it was).
bool setRequestToSend(PortHandle port, bool on);
bool setDataTerminalReady(PortHandle port, bool on);

} // namespace platform
