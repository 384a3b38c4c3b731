// The main window as start-up leaves it: state, layout scaled to the screen, menus, tool bar,
// timers and file dialogs, and the menu shortcuts from the edit boxes.
#include "app/Main.h"
#include "dialogs/Aboutswform.h"
#include "dialogs/Cominterfaceform.h"
#include "menu_shortcut_checks.h"
#include "platform/toolkit/FormScaler.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

class MainWindow : public ::testing::Test {
protected:
    const double f = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 120.0;
    int px(double layoutPixels) const { return static_cast<int>(std::lround(layoutPixels * f)); }
    QRect scaled(int x, int y, int w, int h) const { return QRect(px(x), px(y), px(w), px(h)); }
};

bool allZero(const uint8_t* bytes, size_t count)
{
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

} // namespace

// First: the tests below run commands that change this state.
TEST_F(MainWindow, StartsEmptyWithTimersOffNoPortAndTheDefaultLineSettings)
{
    ASSERT_TRUE(Form1 && Form19 && Form23) << "start-up creates all three windows";
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form19->isVisible());
    EXPECT_FALSE(Form23->isVisible());
    EXPECT_TRUE(Form1->RX_Edit->text().isEmpty());
    EXPECT_TRUE(Form1->TX_Edit->text().isEmpty());
    for (const auto* timer : { Form1->PCTest_Timer, Form1->RXStart_Timer, Form1->TXStart_Timer }) {
        EXPECT_FALSE(timer->enabled()) << timer->objectName().toStdString();
        EXPECT_EQ(timer->interval(), 500) << timer->objectName().toStdString();
    }
    EXPECT_EQ(hComm, platform::kNeverOpened) << "no port was opened";
    EXPECT_EQ(Form1->PortName, "COM1");
    EXPECT_EQ(Form1->BaudRate, 19200.0);
    EXPECT_EQ(Form1->Parity, 0);
    EXPECT_EQ(Form1->ByteSize, 8);
    EXPECT_EQ(Form1->StopBits, 0);
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_EQ(Form1->TextMode, 0);
    EXPECT_TRUE(Form1->TxText.empty() && Form1->LastFileName.empty());
    EXPECT_TRUE(allZero(Form1->RxBuffer, sizeof Form1->RxBuffer)) << "RxBuffer";
    EXPECT_TRUE(allZero(Form1->FileBuffer, sizeof Form1->FileBuffer)) << "FileBuffer";
    EXPECT_EQ(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    EXPECT_TRUE(Form1->TabSheet1->isVisible()) << "the TX/RX page shows";
}

// Second: the dialogs keep their controls unbuilt until a command needs them.
TEST_F(MainWindow, DialogsBuildTheirControlsWhenFirstRefreshedOrShown)
{
    EXPECT_TRUE(Form19->findChildren<QWidget*>().isEmpty() && Form23->findChildren<QWidget*>().isEmpty());
    Form23->RefreshControls();
    EXPECT_EQ(Form23->StopBit_ComboBox->currentText(), "1");
    bool memoShown = false;
    QTimer::singleShot(0, [&] {
        memoShown = Form19->Memo1 && Form19->Memo1->isVisible();
        Form19->reject();
    });
    Form19->exec();
    EXPECT_TRUE(memoShown);
}

TEST_F(MainWindow, LayoutIsScaledFromOneHundredTwentyDpiToTheScreen)
{
    EXPECT_DOUBLE_EQ(platform::densityFactor(Form1), f);
    EXPECT_EQ(Form1->RX_Edit->geometry(), scaled(34, 44, 140, 24));
    EXPECT_EQ(Form1->TX_Edit->geometry(), scaled(197, 44, 139, 24));
    EXPECT_EQ(Form1->PCTest_Button->geometry(), scaled(241, 79, 93, 31));
    EXPECT_EQ(Form1->RXStart_Button->geometry(), scaled(49, 86, 93, 31));
    EXPECT_EQ(Form1->GroupBox1->geometry(), scaled(15, 5, 365, 119));
    EXPECT_EQ(Form1->Label1->pos(), QPoint(px(34), px(20)));
    EXPECT_EQ(Form1->Label2->pos(), QPoint(px(197), px(20)));
    EXPECT_EQ(Form1->RXStart_Button->parentWidget(), Form1->TabSheet1) << "RX Start lies on the page";
    EXPECT_EQ(Form1->ToolBar1->height(), px(45));
    for (QAction* tool : Form1->ToolBar1->actions())
        EXPECT_EQ(Form1->ToolBar1->widgetForAction(tool)->size(), QSize(px(39), px(39)));
    EXPECT_EQ(Form1->PageControl1->geometry(), scaled(0, 0, 409, 175));
    // Client area: tool bar over page, below the menu bar.
    const int menu = Form1->menuBar()->height();
    EXPECT_EQ(Form1->size(), QSize(px(409), px(220) + menu));
    EXPECT_EQ(Form1->centralWidget()->y(), menu + px(45));
    EXPECT_NEAR(Form1->centralWidget()->height(), px(175), 1);
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_NEAR(Form1->frameGeometry().center().x(), centre.x(), 2) << "centred on the screen";
    EXPECT_NEAR(Form1->frameGeometry().center().y(), centre.y(), 2) << "centred on the screen";
}

TEST_F(MainWindow, ControlsCarryTheirTextsHintsAndFonts)
{
    EXPECT_EQ(Form1->windowTitle(), "COM Test");
    EXPECT_FALSE(Form1->windowIcon().isNull());
    const struct {
        QWidget* control;
        QString text;
        QString hint;
        int fontPixels;
    } controls[] = {
        { Form1->Label1, "Received", "", 14 },
        { Form1->Label2, "Transmission", "", 14 },
        { Form1->RX_Edit, "", "Display Received Character ", 15 },
        { Form1->TX_Edit, "", "Input Character ", 14 },
        { Form1->PCTest_Button, "TX Start", "Start Transmission input character ", 17 },
        { Form1->RXStart_Button, "RX Start", "Start Received Data[0]~Data[7]", 17 },
        { Form1->GroupBox1, " Virtual COM Debug Tool", "", 14 },
        { Form1->PageControl1, "", "Key Code=0x3D", 14 },
        { Form1->TabSheet1, "", "", 14 },
    };
    const QString sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    for (const auto& c : controls) {
        const std::string name = c.control->objectName().toStdString();
        QString text = c.control->property("text").toString();
        if (auto* box = qobject_cast<QGroupBox*>(c.control))
            text = box->title();
        EXPECT_EQ(text, c.text) << name;
        EXPECT_EQ(c.control->toolTip(), c.hint) << name;
        EXPECT_EQ(c.control->font().pixelSize(), px(c.fontPixels)) << name;
        EXPECT_EQ(c.control->font().family(), sans) << name;
    }
    EXPECT_EQ(Form1->PageControl1->count(), 1);
    EXPECT_EQ(Form1->PageControl1->tabText(0), "TX/RX");
    EXPECT_EQ(Form1->RX_Edit->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(Form1->RX_Edit->palette().color(QPalette::Inactive, QPalette::Text), QColor(Qt::red));
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit })
        EXPECT_TRUE(!edit->isReadOnly() && edit->maxLength() == std::numeric_limits<int>::max())
            << "editable, no length limit";
}

// What a hover shows: a control's own tip, and nothing over a page, group box or label, although
// Qt would pass their requests on to the page control around them.
TEST_F(MainWindow, ToolTipsShowOnlyOverTheControlsThatHaveOne)
{
    Form1->show();
    QWidget* tabBar = Form1->PageControl1->findChild<QTabBar*>();
    ASSERT_NE(tabBar, nullptr);
    const struct {
        QWidget* under;
        QString shown;
    } hovers[] = {
        // The blank ones first: a tip once shown fades only after a while.
        { Form1->TabSheet1, "" },
        { Form1->GroupBox1, "" },
        { Form1->Label1, "" },
        { Form1->Label2, "" },
        { Form1->TX_Edit, "Input Character " },
        { tabBar, "Key Code=0x3D" },
    };
    for (const auto& hover : hovers) {
        SCOPED_TRACE(hover.under->objectName().toStdString());
        const QPoint inside(2, 2);
        QHelpEvent event(QEvent::ToolTip, inside, hover.under->mapToGlobal(inside));
        QApplication::sendEvent(hover.under, &event);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(), hover.shown);
    }
    QToolTip::hideText();
}

TEST_F(MainWindow, MenusAndToolBarNameTheirCommands)
{
    const struct {
        QAction* item;
        QString text;
        QString shortcut;
        QByteArray handler;
    } items[] = {
        { Form1->File->menuAction(), "&File", "", "" },
        { Form1->FileOpen, "&Open", "Ctrl+O", "FileOpenClick" },
        { Form1->FileSave, "&Save", "Ctrl+S", "FileSaveClick" },
        { Form1->ExitCtrlF1, "-", "Ctrl+F12", "" },
        { Form1->FileExit, "&Exit", "Ctrl+E", "FileExitClick" },
        { Form1->Setup2->menuAction(), "&Setup", "", "" },
        { Form1->SerialPortSet, "Serial &Port Set", "Ctrl+P", "SerialPortSetClick" },
        { Form1->SerialPortTest, "Serial Port &Test", "Ctrl+T", "SerialPortTestClick" },
        { Form1->Help2->menuAction(), "&Help", "", "" },
        { Form1->About, "About...", "F1", "AboutClick" },
    };
    QList<QAction*> menuOrder;
    for (QAction* title : Form1->MainMenu1->actions())
        menuOrder << title << title->menu()->actions();
    ASSERT_EQ(menuOrder.size(), std::size(items));
    for (size_t i = 0; i < std::size(items); ++i) {
        const auto& item = items[i];
        const std::string name = item.item->text().toStdString();
        EXPECT_EQ(menuOrder[i], item.item) << "menu position " << i;
        EXPECT_EQ(item.item->text(), item.text);
        EXPECT_EQ(item.item->shortcut().toString(), item.shortcut) << name;
        EXPECT_EQ(item.item->property("handler").toByteArray(), item.handler) << name;
        EXPECT_TRUE(item.item->icon().isNull()) << name << ": the menu shows no images";
    }
    EXPECT_TRUE(Form1->ExitCtrlF1->isSeparator());

    const struct {
        QAction* button;
        int image;
        QString hint;
        QByteArray handler;
    } tools[] = {
        { Form1->FileOpen_ToolButton, 0, "Open File", "FileOpenClick" },
        { Form1->FileSave_ToolButton, 1, "Save File", "FileSaveClick" },
        { Form1->Setup_ToolButton, 3, "Serial Port Setting", "SerialPortSetClick" },
        { Form1->About_ToolButton, 5, "About", "AboutClick" },
    };
    ASSERT_EQ(Form1->ToolBar1->actions().size(), std::size(tools));
    EXPECT_EQ(Form1->ToolBar1->toolButtonStyle(), Qt::ToolButtonIconOnly);
    for (size_t i = 0; i < std::size(tools); ++i) {
        const auto& tool = tools[i];
        EXPECT_EQ(Form1->ToolBar1->actions()[i], tool.button) << "tool bar position " << i;
        EXPECT_EQ(tool.button->toolTip(), tool.hint);
        EXPECT_EQ(tool.button->property("handler").toByteArray(), tool.handler) << tool.hint.toStdString();
        EXPECT_EQ(
            tool.button->icon().pixmap(32).toImage(), Form1->ImageList1[tool.image].pixmap(32).toImage())
            << tool.hint.toStdString() << " shows image " << tool.image;
    }
    for (const QIcon& image : Form1->ImageList1) {
        ASSERT_FALSE(image.availableSizes().isEmpty());
        EXPECT_EQ(image.availableSizes().first(), QSize(32, 32));
        EXPECT_TRUE(image.pixmap(32).hasAlphaChannel()) << "images carry a transparency mask";
    }
}

TEST_F(MainWindow, FileDialogsAreMadeWhenFirstExecuted)
{
    EXPECT_TRUE(Form1->findChildren<QFileDialog*>().isEmpty()) << "no dialog before the first Execute";
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    cancel.start(10);
    for (auto* component : { Form1->OpenDialog.get(), Form1->SaveDialog.get(), Form1->OpenDialog.get() }) {
        EXPECT_EQ(component->filter(), "Text Files(*.txt)");
        EXPECT_EQ(component->defaultSuffix(), "txt");
        EXPECT_FALSE(component->Execute(Form1)) << "cancelled";
    }
    const auto dialogs = Form1->findChildren<QFileDialog*>();
    ASSERT_EQ(dialogs.size(), 2) << "one toolkit dialog per component, kept for the next Execute";
    QStringList titles { dialogs[0]->windowTitle(), dialogs[1]->windowTitle() };
    titles.sort();
    EXPECT_EQ(titles, QStringList({ "Open File", "Save File" }));
    EXPECT_EQ(Form1->OpenDialog->mode(), platform::FileDialog::Mode::Open);
    EXPECT_EQ(Form1->SaveDialog->mode(), platform::FileDialog::Mode::Save);
}

TEST_F(MainWindow, AModalDialogBlocksTheMainWindowExitIncluded)
{
    QSignalSpy exits(Form1->FileExit, &QAction::triggered);
    QSignalSpy clicks(Form1->RXStart_Button, &QPushButton::clicked);
    bool tried = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(waitUntil([] { return QApplication::activeModalWidget() == Form19; }));
        // Through the main window's own window, where the toolkit applies modality.
        Form1->TX_Edit->setFocus();
        QTest::keyClick(Form1->windowHandle(), Qt::Key_E, Qt::ControlModifier);
        QTest::mouseClick(Form1->windowHandle(), Qt::LeftButton, {},
            Form1->RXStart_Button->mapTo(Form1, Form1->RXStart_Button->rect().center()));
        spinFor(std::chrono::milliseconds(50));
        tried = true;
        Form19->reject();
    });
    Form19->exec();
    ASSERT_TRUE(tried);
    EXPECT_EQ(exits.count(), 0) << "Ctrl+E does not reach the main window under a modal dialog";
    EXPECT_EQ(clicks.count(), 0) << "nor does a click";
    EXPECT_TRUE(Form1->isVisible() && !Form19->isVisible());
}

TEST_F(MainWindow, EveryMenuShortcutWorksFromEitherEditBox)
{
    checkMenuShortcutsFromEachEditBox();
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
