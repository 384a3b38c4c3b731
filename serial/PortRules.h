// The rules of the serial link, free of any window: open and configure, the bounded send, and the
// 128-byte receive with its discard. The window's TRS232 and the headless commands both use them.
#pragma once

#include "platform/tty/SerialPort.h"

#include <cstdint>
#include <functional>
#include <string>

namespace serial {

inline constexpr const char* kOpenError = "開啟通訊埠錯誤!!";
inline constexpr const char* kSettingsError = "通訊埠設定錯誤!!!";
inline constexpr int kReceiveCap = 128;

// Told the message of a failure; returns once the user has seen it (it may run nested events).
using FailureReport = std::function<void(const char* message)>;

// What an open and configure found, for callers that name the cause.
struct OpenOutcome {
    platform::OpenResult opened; // the open's result (its failure, the device)
    std::string hardwareReason; // settings the driver took but its hardware would not run
};

// Opens request.portName exclusively into port, then applies the line settings. On an open failure
// port holds no port when report runs. On refused settings report runs while port still holds the
// new port; afterwards the port this call opened is closed, unless closeAndForget closed it during
// the report, and port is set to no port unless a nested call replaced it meanwhile (that port is
// left alone). Returns true when configured; outcome, when given, tells why not.
bool openAndConfigure(platform::PortHandle& port, const platform::LineSettings& request,
    const FailureReport& report, OpenOutcome* outcome = nullptr);

// Closes the port in port and sets port to no port; nothing without a port. Every close of a port
// that openAndConfigure may still be reporting on goes through here, so that the report's end does
// not close the same descriptor number again (by then it may be someone else's).
void closeAndForget(platform::PortHandle& port);

// Sends every byte (no terminator, no line end) within the write bound; nothing without a port.
void sendBytes(platform::PortHandle port, const std::string& bytes);

struct Reception {
    enum class Outcome { NoPort, Read, Discarded } outcome = Outcome::NoPort;
    int count = 0; // bytes read, or bytes discarded
};

// Takes what waits: at most 128 bytes are read into buffer[0..n) and buffer[n] becomes 0, n being
// the bytes actually read; more than 128 waiting are all discarded and buffer is left as it was.
Reception receiveInto(platform::PortHandle port, uint8_t (&buffer)[kReceiveCap + 1]);

} // namespace serial
