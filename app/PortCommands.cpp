// The settings dialog command and the port availability check.
#include "app/Main.h"

#include "dialogs/Cominterfaceform.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/tty/SerialPort.h"
#include "serial/PortRules.h"

namespace {

constexpr const char* kPortTestPassed = "通訊埠測試正常";

} // namespace

void TForm1::SerialPortSetClick(QObject*)
{
    Form23->RefreshControls();
    Form23->exec();
}

// Tries the dialog's committed port, which a settings file may have set apart from PortName. The
// line is not configured, and the port stays held while the success box is up.
void TForm1::SerialPortTestClick(QObject*)
{
    const platform::PortHandle port = platform::openPortExclusive(Form23->CurPortName).handle;
    if (!platform::isPort(port)) {
        platform::messageBox(serial::kOpenError, "ERROR");
        return;
    }
    platform::messageBox(kPortTestPassed, "OK");
    // Only the open was tried: input waiting for someone else stays theirs.
    platform::closePort(port, platform::UnreadInput::Keep);
}
