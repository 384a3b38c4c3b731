#include "app/Main.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/MenuShortcuts.h"
#include "platform/toolkit/ToolTips.h"

#include <QCloseEvent>

TForm1* Form1 = nullptr;
TRS232 RS232Port;

TForm1::TForm1(QWidget* owner)
    : QMainWindow(owner)
{
    setupUi(this);
    createComponents();
    platform::scaleForm(this);
    platform::bindHandlersByName(this, this);
    platform::letMenuShortcutsWin(this);
    platform::showSeparatorsAsLines(this);
    platform::keepToolTipsToTheirControls(this);
    const platform::LineSettings& defaults = platform::kDefaultLineSettings;
    PortName = defaults.portName;
    BaudRate = defaults.baudRate;
    Parity = defaults.parity;
    ByteSize = defaults.byteSize;
    StopBits = defaults.stopBits;
}

TForm1::~TForm1() = default;

void TForm1::createComponents()
{
    for (size_t i = 0; i < ImageList1.size(); ++i)
        ImageList1[i] = QIcon(QString(":/images/tool%1.png").arg(i));
    QIcon icon(":/images/comtest.png");
    icon.addFile(":/images/comtest16.png");
    setWindowIcon(icon);
    OpenDialog = std::make_unique<platform::FileDialog>(
        platform::FileDialog::Mode::Open, "Open File", "Text Files(*.txt)", "txt");
    SaveDialog = std::make_unique<platform::FileDialog>(
        platform::FileDialog::Mode::Save, "Save File", "Text Files(*.txt)", "txt");
    PCTest_Timer = new platform::WindowTimer(this, "PCTest_Timer", 500, "PCTest_TimerTimer");
    RXStart_Timer = new platform::WindowTimer(this, "RXStart_Timer", 500, "RXStart_TimerTimer");
    TXStart_Timer = new platform::WindowTimer(this, "TXStart_Timer", 500, "");
}

void TForm1::FileExitClick(QObject*)
{
    close();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program at once, message boxes and all; no timer ticks
    // after this, and a port a test still holds is left for the system to release.
    event->accept();
    platform::Application::endNow();
}
