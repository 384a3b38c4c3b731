// The settings dialog command and the port availability check.
#include "app/Main.h"

#include "dialogs/Cominterfaceform.h"
#include "headless/Commands.h"
#include "platform/discovery/ComNames.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/tty/SerialPort.h"
#include "serial/PortRules.h"

namespace {

constexpr const char* kPortTestPassed = "通訊埠測試正常";

} // namespace

void TForm1::SerialPortSetClick(QObject*)
{
    // Looked up at each showing, never at start-up: a device may have come or gone meanwhile.
    Form23->ListPorts(platform::presentComNumbers(platform::systemComNames()));
    Form23->RefreshControls();
    Form23->exec();
}

// Tries the dialog's committed port, which a settings file may have set apart from PortName. The
// line is not configured, and the port stays held while the success box is up.
void TForm1::SerialPortTestClick(QObject*)
{
    const platform::OpenResult opened = platform::openPortExclusive(Form23->CurPortName);
    const platform::PortHandle port = opened.handle;
    if (!platform::isPort(port)) {
        platform::reportError(serial::kOpenError, headless::openFailureText(opened));
        return;
    }
    platform::messageBox(kPortTestPassed, "OK");
    // Only the open was tried: input waiting for someone else stays theirs.
    platform::closePort(port, platform::UnreadInput::Keep);
}
