// The main window as start-up leaves it, the dialogs its commands open, its separator, and its tool tips.
#include "platform/toolkit/FormScaler.h"
#include "support/WindowHarness.h"

#include <QFileDialog>
#include <QTabBar>
#include <QToolTip>

TEST(MainWindow, EachMenuItemAndToolBarButtonOpensItsDialog)
{
    Form23->CurBaudRate = 9600; // shows only when the command refreshes the dialog
    const std::pair<QAction*, std::string> rows[]
        = { { Form1->FileOpen, "open" }, { Form1->FileOpen_ToolButton, "open" }, { Form1->FileSave, "save" },
              { Form1->FileSave_ToolButton, "save" }, { Form1->SerialPortSet, "9600" } };
    for (const auto& [command, expected] : rows) {
        std::string shown; // what came up, closed again at once
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                auto* files = qobject_cast<QFileDialog*>(modal);
                shown = files ? (files->acceptMode() == QFileDialog::AcceptOpen ? "open" : "save")
                              : Form23->BaudRate_ComboBox->currentText().toStdString();
                modal->reject();
            }
        });
        poll.start(5);
        command->trigger();
        EXPECT_EQ(shown, expected) << command->objectName().toStdString();
    }
    EXPECT_EQ(Form1->ExitCtrlF1->text() + Form1->ExitCtrlF1->shortcut().toString(), "")
        << "Fusion draws a caption";
    for (const QIcon& icon : Form1->ImageList1) // the images built into the program
        EXPECT_EQ(icon.availableSizes().size(), 1) << "an image of the tool bar's list";
    for (const QWidget* form : std::array<QWidget*, 2> { Form1, Form23 }) // About's is built when shown
        EXPECT_EQ(form->font().pixelSize(),
            qRound(form->property("fontPixelHeight").toInt() * platform::densityFactor(form)))
            << form->metaObject()->className() << " has its layout's font at this screen's density";
}

// Qt passes a tool-tip request on to the parent: the page control's tip must not show over the rest.
TEST(MainWindow, ToolTipsShowOnlyOverTheControlsThatHaveOne)
{
    QWidget* tabBar = Form1->PageControl1->findChild<QTabBar*>();
    const std::pair<QWidget*, QString> hovers[]
        = { { Form1->TabSheet1, "" }, { Form1->Label1, "" }, { Form1->TX_Edit, Form1->TX_Edit->toolTip() },
              { tabBar, Form1->PageControl1->toolTip() } }; // blank first: a tip once shown fades slowly
    for (const auto& [under, tip] : hovers) {
        QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), under->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(under, &event);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : "", tip) << under->objectName().toStdString();
    }
    QToolTip::hideText();
}
