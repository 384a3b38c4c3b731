// The main window as start-up leaves it, what each command is wired to, its tool tips, and the
// dialogs it shows.
#include "dialogs/Aboutswform.h"
#include "support/WindowHarness.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QToolTip>

// First: the tests below change this state.
TEST(StartUp, LeavesTimersOffNoPortEmptyBoxesTheDefaultsAndTheDialogsUnbuilt)
{
    EXPECT_TRUE(Form1->isVisible() && !Form19->isVisible() && !Form23->isVisible());
    for (const platform::WindowTimer* timer :
        { Form1->PCTest_Timer, Form1->RXStart_Timer, Form1->TXStart_Timer })
        EXPECT_TRUE(!timer->enabled() && timer->interval() == 500) << timer->objectName().toStdString();
    const platform::LineSettings& d = platform::kDefaultLineSettings;
    EXPECT_EQ(std::tie(Form1->PortName, Form1->Parity, Form1->ByteSize, Form1->StopBits, Form1->BaudRate),
        std::make_tuple(d.portName, d.parity, d.byteSize, d.stopBits, double(d.baudRate)));
    EXPECT_TRUE(hComm == platform::kNeverOpened && Form1->PortOpen + Form1->TextMode == 0);
    const auto zero
        = [](const auto& bytes) { return std::ranges::all_of(bytes, [](uint8_t b) { return !b; }); };
    EXPECT_TRUE(Form1->TxText.empty() && Form1->LastFileName.empty() && zero(Form1->RxBuffer)
        && zero(Form1->FileBuffer));
    EXPECT_TRUE(!Form1->windowIcon().isNull() && std::ranges::none_of(Form1->ImageList1, &QIcon::isNull));
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit }) {
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
        edit->setText(QString(40000, 'x'));
        EXPECT_EQ(edit->text().size(), 40000) << edit->objectName().toStdString() << " has no length limit";
    }
    // The dialogs build their controls when first refreshed or shown.
    EXPECT_TRUE(Form19->findChildren<QWidget*>().isEmpty() && Form23->findChildren<QWidget*>().isEmpty());
    Form23->RefreshControls();
    QTimer::singleShot(0, Form19, &QDialog::reject);
    Form19->exec();
    EXPECT_FALSE(Form19->findChildren<QWidget*>().isEmpty() || Form23->findChildren<QWidget*>().isEmpty());
}

using MainWindow = WindowOverPty;

TEST_F(MainWindow, EachMenuItemAndToolBarButtonRunsItsCommand)
{
    Form23->CurBaudRate = 9600; // shows only when the command refreshes the dialog
    const std::pair<QAction*, std::string> rows[]
        = { { Form1->FileOpen, "open" }, { Form1->FileOpen_ToolButton, "open" }, { Form1->FileSave, "save" },
              { Form1->FileSave_ToolButton, "save" }, { Form1->SerialPortSet, "settings 9600" },
              { Form1->Setup_ToolButton, "settings 9600" }, { Form1->SerialPortTest, "box OK" },
              { Form1->About, "about" }, { Form1->About_ToolButton, "about" } };
    for (const auto& [command, expected] : rows) {
        std::string shown; // what came up, closed again at once
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (auto* files = qobject_cast<QFileDialog*>(modal))
                shown = files->acceptMode() == QFileDialog::AcceptOpen ? "open" : "save";
            else if (modal)
                shown = modal == Form19
                    ? "about"
                    : "settings " + Form23->BaudRate_ComboBox->currentText().toStdString();
            else if (QMessageBox* box = visibleMessageBox())
                shown = "box " + box->windowTitle().toStdString(), box->button(QMessageBox::Ok)->click();
            if (modal)
                modal->reject();
        });
        poll.start(5);
        command->trigger();
        EXPECT_EQ(shown, expected) << command->objectName().toStdString();
    }
    Form23->ResetToDefaults();
}

// Qt passes a tool-tip request on to the parent: the page control's tip must not show over the rest.
TEST_F(MainWindow, ToolTipsShowOnlyOverTheControlsThatHaveOne)
{
    QWidget* tabBar = Form1->PageControl1->findChild<QTabBar*>();
    const std::pair<QWidget*, QString> hovers[] = { { Form1->TabSheet1, "" }, { Form1->GroupBox1, "" },
        { Form1->Label1, "" }, { Form1->Label2, "" }, { Form1->TX_Edit, Form1->TX_Edit->toolTip() },
        { tabBar, Form1->PageControl1->toolTip() } }; // blank first: a tip once shown fades slowly
    for (const auto& [under, tip] : hovers) {
        QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), under->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(under, &event);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : "", tip) << under->objectName().toStdString();
    }
    QToolTip::hideText();
}

TEST_F(MainWindow, AModalDialogBlocksTheMainWindow)
{
    QSignalSpy exits(Form1->FileExit, &QAction::triggered),
        clicks(Form1->RXStart_Button, &QPushButton::clicked);
    QTimer::singleShot(0, [] {
        // Through the main window's own window, where the toolkit applies modality.
        QTest::keySequence(Form1->windowHandle(), Form1->FileExit->shortcut());
        QTest::mouseClick(Form1->windowHandle(), Qt::LeftButton, {},
            Form1->RXStart_Button->mapTo(Form1, Form1->RXStart_Button->rect().center()));
        spinFor(std::chrono::milliseconds(50));
        Form19->reject();
    });
    Form19->exec();
    EXPECT_EQ(exits.count() + clicks.count(), 0);
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
