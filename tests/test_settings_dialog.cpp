// The serial port settings dialog driven as a user drives it: keystrokes into the real combo boxes,
// items picked from their lists, clicks on OK, Cancel and Default, and the keys that must do
// nothing. The dialog is opened by the main window's command and answered from its modal loop.
#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/toolkit/ComboEdits.h"
#include "platform/toolkit/FormScaler.h"
#include "support/WindowHarness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct LineValues {
    std::string port;
    double baud = 0;
    int parity = 0;
    int byteSize = 0;
    int stopBits = 0;
    bool operator==(const LineValues&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LineValues& v)
{
    return out << v.port << " " << v.baud << " parity " << v.parity << " bits " << v.byteSize << " stop "
               << v.stopBits;
}

LineValues committed()
{
    return { Form23->CurPortName, Form23->CurBaudRate, Form23->CurParity, Form23->CurByteSize,
        Form23->CurStopBits };
}

LineValues pending()
{
    return { Form23->NewPortName, Form23->NewBaudRate, Form23->NewParity, Form23->NewByteSize,
        Form23->NewStopBits };
}

LineValues mainWindow()
{
    return { Form1->PortName, Form1->BaudRate, Form1->Parity, Form1->ByteSize, Form1->StopBits };
}

const LineValues kDefaults { "COM1", 19200.0, 0, 8, 0 };

std::vector<std::string> boxTexts()
{
    std::vector<std::string> texts;
    for (QComboBox* box : { Form23->COMPort_ComboBox, Form23->BaudRate_ComboBox, Form23->ParityCheck_ComboBox,
             Form23->DataBit_ComboBox, Form23->StopBit_ComboBox })
        texts.push_back(box->currentText().toStdString());
    return texts;
}

const std::vector<std::string> kDefaultTexts { "COM1", "19200", "None", "8", "1" };

void setCommitted(const LineValues& v)
{
    Form23->CurPortName = v.port;
    Form23->CurBaudRate = v.baud;
    Form23->CurParity = static_cast<uint8_t>(v.parity);
    Form23->CurByteSize = static_cast<uint8_t>(v.byteSize);
    Form23->CurStopBits = static_cast<uint8_t>(v.stopBits);
}

void setPending(const LineValues& v)
{
    Form23->NewPortName = v.port;
    Form23->NewBaudRate = v.baud;
    Form23->NewParity = static_cast<uint8_t>(v.parity);
    Form23->NewByteSize = static_cast<uint8_t>(v.byteSize);
    Form23->NewStopBits = static_cast<uint8_t>(v.stopBits);
}

// Makes window the active one, as a click into it does.
void activate(QWidget* window)
{
    window->activateWindow();
    EXPECT_TRUE(waitUntil([window] { return QApplication::activeWindow() == window; }))
        << window->objectName().toStdString() << " becomes active";
}

// Puts the focus into box as a user clicking it would, with its text selected, and waits for it.
void focusWithTextSelected(QComboBox* box)
{
    activate(box->window());
    box->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(waitUntil([box] { return box->lineEdit()->hasFocus(); })) << "focus in the combo box";
    QTest::keyClick(box->lineEdit(), Qt::Key_A, Qt::ControlModifier);
}

// Selects the text and types over it, one keystroke at a time.
void typeInto(QComboBox* box, const QString& keys)
{
    focusWithTextSelected(box);
    QTest::keyClicks(box->lineEdit(), keys);
}

// Opens the list, moves the highlight onto the item with the arrow keys and presses Enter, as a
// user picks it. (A click would do the same, but the list ignores a release that comes within a
// double-click time of its opening.)
void pickItem(QComboBox* box, const QString& text)
{
    const int row = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GE(row, 0) << text.toStdString() << " is in the list";
    box->showPopup();
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(waitUntil([list] { return list->isVisible(); })) << "the list opens";
    const int from = std::max(list->currentIndex().row(), 0);
    for (int i = from; i < row; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    for (int i = from; i > row; --i)
        QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([list] { return !list->isVisible(); })) << "the list closes";
    EXPECT_EQ(box->currentText(), text);
    // A window manager gives the activation back to the dialog; offscreen leaves it with the list.
    activate(box->window());
}

void press(QPushButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Opens the dialog through open (the command the user starts) and runs steps from its modal loop
// once it shows. Whatever the steps leave open is cancelled. Returns whether it was still open.
bool withDialogOpen(
    const std::function<void()>& steps,
    const std::function<void()>& open = [] { Form1->SerialPortSet->trigger(); })
{
    bool ran = false;
    bool stillOpen = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!Form23->isVisible())
            return;
        poll.stop();
        EXPECT_EQ(QApplication::activeModalWidget(), Form23) << "the dialog is modal";
        activate(Form23);
        steps();
        stillOpen = Form23->isVisible();
        if (Form23->isVisible())
            press(Form23->Cancel_Button);
        if (Form23->isVisible())
            Form23->reject();
        ran = true;
    });
    poll.start();
    open();
    EXPECT_TRUE(ran) << "the dialog showed, modally, until it was closed";
    EXPECT_FALSE(Form23->isVisible());
    return stillOpen;
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        Form23->ResetToDefaults();
        Form1->activateWindow();
    }
    void TearDown() override { Form23->ResetToDefaults(); }
};

TEST_F(SettingsDialog, StartsWithTheDefaultsCommittedPendingAndInTheMainWindow)
{
    EXPECT_FALSE(Form23->isVisible());
    EXPECT_EQ(committed(), kDefaults);
    EXPECT_EQ(pending(), kDefaults);
    EXPECT_EQ(mainWindow(), kDefaults);
    EXPECT_EQ(boxTexts(), kDefaultTexts);
}

TEST_F(SettingsDialog, ConstructionWritesTheDefaultsIntoTheMainWindowsLineSettings)
{
    Form1->PortName = "COM3";
    Form1->BaudRate = 300.0;
    Form1->Parity = 2;
    Form1->ByteSize = 5;
    Form1->StopBits = 2;
    TForm23 another;
    EXPECT_EQ(mainWindow(), kDefaults) << "a dialog built after the main window writes its line settings";
    another.buildControls();
    for (QComboBox* box : { another.DataBit_ComboBox, another.StopBit_ComboBox })
        EXPECT_EQ(box->currentIndex(), -1)
            << box->objectName().toStdString() << " loads with no item selected";
    EXPECT_EQ(another.DataBit_ComboBox->currentText(), "8");
    EXPECT_EQ(another.StopBit_ComboBox->currentText(), "1");
}

TEST_F(SettingsDialog, LayoutHasCaptionListsAndScaledSize)
{
    EXPECT_EQ(Form23->windowTitle().toStdString(), "Serial Port Interface");
    const double factor = platform::densityFactor(Form23);
    EXPECT_EQ(Form23->width(), std::lround(236 * factor));
    EXPECT_EQ(Form23->height(), std::lround(249 * factor));
    EXPECT_EQ(Form23->BaudRate_ComboBox->geometry(),
        QRect(std::lround(84 * factor), std::lround(56 * factor), std::lround(101 * factor),
            std::lround(21 * factor)));
    auto items = [](QComboBox* box) {
        std::vector<std::string> texts;
        for (int i = 0; i < box->count(); ++i)
            texts.push_back(box->itemText(i).toStdString());
        return texts;
    };
    EXPECT_EQ(items(Form23->COMPort_ComboBox), (std::vector<std::string> { "COM1", "COM2", "COM3", "COM4" }));
    EXPECT_EQ(items(Form23->BaudRate_ComboBox),
        (std::vector<std::string> {
            "110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200" }));
    EXPECT_EQ(items(Form23->ParityCheck_ComboBox),
        (std::vector<std::string> { "None", "Odd", "Even", "Mark", "Space" }));
    EXPECT_EQ(items(Form23->DataBit_ComboBox), (std::vector<std::string> { "5", "6", "7", "8" }));
    EXPECT_EQ(items(Form23->StopBit_ComboBox), (std::vector<std::string> { "1", "2" }));
    EXPECT_TRUE(Form23->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(Form23->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(SettingsDialog, OpensFromTheMenuTheToolBarAndCtrlP)
{
    int showings = 0;
    auto count = [&] { showings += Form23->isVisible() ? 1 : 0; };
    withDialogOpen(count, [] { Form1->SerialPortSet->trigger(); });
    withDialogOpen(count, [] { Form1->Setup_ToolButton->trigger(); });
    withDialogOpen(count, [] {
        activate(Form1);
        QTest::keyClick(Form1, Qt::Key_P, Qt::ControlModifier);
    });
    EXPECT_EQ(showings, 3) << "menu item, tool button and Ctrl+P each open the dialog";
}

TEST_F(SettingsDialog, TabVisitsBaudDataParityStopPortThenTheClippedButtonAndTheButtons)
{
    std::vector<QWidget*> visited;
    withDialogOpen([&] {
        Form23->BaudRate_ComboBox->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(waitUntil([] { return Form23->BaudRate_ComboBox->hasFocus(); }));
        for (int i = 0; i < 9; ++i) {
            QWidget* focus = QApplication::focusWidget();
            // A combo box's focus sits in its edit field.
            while (focus && !focus->objectName().endsWith("_ComboBox") && !qobject_cast<QPushButton*>(focus))
                focus = focus->parentWidget();
            visited.push_back(focus);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
    });
    const std::vector<QWidget*> expected { Form23->BaudRate_ComboBox, Form23->DataBit_ComboBox,
        Form23->ParityCheck_ComboBox, Form23->StopBit_ComboBox, Form23->COMPort_ComboBox, Form23->Button1,
        Form23->OK_Button, Form23->Cancel_Button, Form23->Default_Button };
    EXPECT_EQ(visited, expected);
}

TEST_F(SettingsDialog, ButtonOneLiesOutsideTheGroupBoxAndPressingItDoesNothing)
{
    withDialogOpen([] {
        EXPECT_FALSE(Form23->Button1->isHidden());
        EXPECT_TRUE(Form23->Button1->visibleRegion().isEmpty()) << "clipped by the group box";
        pickItem(Form23->BaudRate_ComboBox, "9600");
        Form23->Button1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Form23->Button1, Qt::Key_Space);
        EXPECT_TRUE(Form23->isVisible());
    });
    EXPECT_EQ(committed(), kDefaults);
    EXPECT_EQ(Form23->NewBaudRate, 9600.0);
}

TEST_F(SettingsDialog, ChoosingEveryListedRateStoresItsValue)
{
    withDialogOpen([] {
        for (const char* text :
            { "110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200" }) {
            pickItem(Form23->BaudRate_ComboBox, text);
            EXPECT_EQ(Form23->NewBaudRate, std::stod(text)) << "after choosing " << text;
        }
    });
}

TEST_F(SettingsDialog, ChoosingOddStoresOneAndStopBitsTwoAndOneStoreTwoAndZero)
{
    withDialogOpen([] {
        pickItem(Form23->ParityCheck_ComboBox, "Odd");
        EXPECT_EQ(Form23->NewParity, 1);
        pickItem(Form23->ParityCheck_ComboBox, "Space");
        EXPECT_EQ(Form23->NewParity, 4);
        pickItem(Form23->StopBit_ComboBox, "2");
        EXPECT_EQ(Form23->NewStopBits, 2);
        pickItem(Form23->StopBit_ComboBox, "1");
        EXPECT_EQ(Form23->NewStopBits, 0);
        pickItem(Form23->DataBit_ComboBox, "7");
        EXPECT_EQ(Form23->NewByteSize, 7);
        pickItem(Form23->COMPort_ComboBox, "COM4");
        EXPECT_EQ(Form23->NewPortName, "COM4");
    });
    EXPECT_EQ(committed(), kDefaults) << "Cancel commits nothing";
}

TEST_F(SettingsDialog, TypingCompletesWithoutChangingTheTypedLetters)
{
    withDialogOpen([] {
        QLineEdit* field = Form23->BaudRate_ComboBox->lineEdit();
        typeInto(Form23->BaudRate_ComboBox, "1");
        EXPECT_EQ(field->text().toStdString(), "110");
        EXPECT_EQ(field->selectedText().toStdString(), "10") << "the completed rest is selected";
        EXPECT_EQ(Form23->NewBaudRate, 110.0) << "the handler saw the completed text";

        pickItem(Form23->COMPort_ComboBox, "COM2");
        typeInto(Form23->COMPort_ComboBox, "c");
        EXPECT_EQ(Form23->COMPort_ComboBox->currentText().toStdString(), "cOM1");
        EXPECT_EQ(Form23->NewPortName, "COM2") << "cOM1 matches no row";

        typeInto(Form23->ParityCheck_ComboBox, "o");
        EXPECT_EQ(Form23->ParityCheck_ComboBox->currentText().toStdString(), "odd");
        EXPECT_EQ(Form23->NewParity, 0) << "odd is not Odd";
    });
}

TEST_F(SettingsDialog, EnterAndLeavingTheBoxKeepTheTypedLetterCase)
{
    const bool stillOpen = withDialogOpen([] {
        pickItem(Form23->COMPort_ComboBox, "COM3");
        typeInto(Form23->COMPort_ComboBox, "c");
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_Return);
        EXPECT_EQ(Form23->COMPort_ComboBox->currentText().toStdString(), "cOM1") << "after Enter";
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_Tab);
        EXPECT_TRUE(waitUntil([] { return !Form23->COMPort_ComboBox->lineEdit()->hasFocus(); }));
        EXPECT_EQ(Form23->COMPort_ComboBox->currentText().toStdString(), "cOM1") << "after the focus left";
        EXPECT_EQ(Form23->NewPortName, "COM3");
    });
    EXPECT_TRUE(stillOpen) << "Enter closed the dialog";
    EXPECT_EQ(committed(), kDefaults);
}

TEST_F(SettingsDialog, TextsOffTheTableLeaveThePendingValue)
{
    withDialogOpen([] {
        typeInto(Form23->BaudRate_ComboBox, " 9600");
        EXPECT_EQ(Form23->BaudRate_ComboBox->currentText().toStdString(), " 9600");
        EXPECT_EQ(Form23->NewBaudRate, 19200.0) << "a leading blank";

        typeInto(Form23->BaudRate_ComboBox, "4800 ");
        EXPECT_EQ(Form23->BaudRate_ComboBox->currentText().toStdString(), "4800 ");
        EXPECT_EQ(Form23->NewBaudRate, 4800.0) << "the rate typed before the trailing blank stays";

        typeInto(Form23->BaudRate_ComboBox, "600");
        EXPECT_EQ(Form23->NewBaudRate, 4800.0) << "600 is no listed rate, though a number";

        pickItem(Form23->COMPort_ComboBox, "COM3");
        focusWithTextSelected(Form23->COMPort_ComboBox);
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_End);
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_Backspace);
        EXPECT_EQ(Form23->COMPort_ComboBox->currentText().toStdString(), "COM");
        EXPECT_EQ(Form23->NewPortName, "COM3") << "deleting to a text off the table";
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_9);
        EXPECT_EQ(Form23->COMPort_ComboBox->currentText().toStdString(), "COM9")
            << "no match: simply inserted";
        EXPECT_EQ(Form23->NewPortName, "COM3");
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(Form23->COMPort_ComboBox->lineEdit(), Qt::Key_2);
        EXPECT_EQ(Form23->NewPortName, "COM2") << "typing back onto a row";
    });
}

TEST_F(SettingsDialog, TwelveHundredAndOneMoreZeroKeepsTwelveHundredAndOkCommitsIt)
{
    withDialogOpen([] {
        typeInto(Form23->BaudRate_ComboBox, "1200");
        EXPECT_EQ(Form23->NewBaudRate, 1200.0);
        QTest::keyClick(Form23->BaudRate_ComboBox->lineEdit(), Qt::Key_0);
        EXPECT_EQ(Form23->BaudRate_ComboBox->currentText().toStdString(), "12000");
        EXPECT_EQ(Form23->NewBaudRate, 1200.0);
        press(Form23->OK_Button);
    });
    EXPECT_EQ(Form23->CurBaudRate, 1200.0);
    EXPECT_EQ(Form1->BaudRate, 1200.0);
}

TEST_F(SettingsDialog, OkWithoutEditsCopiesTheCommittedSettingsIntoTheMainWindow)
{
    // As after a settings file was opened: committed and pending set, the main window not yet.
    const LineValues loaded { "COM2", 9600.0, 2, 7, 2 };
    setCommitted(loaded);
    setPending(loaded);
    const bool stillOpen = withDialogOpen([] {
        EXPECT_EQ(boxTexts(), (std::vector<std::string> { "COM2", "9600", "Even", "7", "2" }))
            << "refreshed on opening";
        press(Form23->OK_Button);
    });
    EXPECT_FALSE(stillOpen) << "OK closes the dialog";
    EXPECT_EQ(committed(), loaded);
    EXPECT_EQ(mainWindow(), loaded);
}

TEST_F(SettingsDialog, CancelledChoiceIsCommittedByALaterOk)
{
    withDialogOpen([] {
        pickItem(Form23->BaudRate_ComboBox, "9600");
        press(Form23->Cancel_Button);
    });
    EXPECT_EQ(Form23->CurBaudRate, 19200.0);
    EXPECT_EQ(Form1->BaudRate, 19200.0);
    EXPECT_EQ(Form23->NewBaudRate, 9600.0);

    withDialogOpen([] {
        EXPECT_EQ(Form23->BaudRate_ComboBox->currentText().toStdString(), "19200")
            << "shows the committed rate";
        EXPECT_EQ(Form23->NewBaudRate, 9600.0) << "refreshing ran no handler";
        press(Form23->OK_Button);
    });
    EXPECT_EQ(Form23->CurBaudRate, 9600.0);
    EXPECT_EQ(Form1->BaudRate, 9600.0);
}

TEST_F(SettingsDialog, DefaultThenCancelLeavesTheDefaultsCommitted)
{
    const LineValues other { "COM4", 115200.0, 3, 6, 2 };
    setCommitted(other);
    setPending(other);
    withDialogOpen([] { press(Form23->OK_Button); });
    ASSERT_EQ(mainWindow(), other);

    const bool stillOpen = withDialogOpen([] {
        pickItem(Form23->DataBit_ComboBox, "5");
        press(Form23->Default_Button);
        EXPECT_TRUE(Form23->isVisible()) << "Default leaves the dialog open";
        EXPECT_EQ(committed(), kDefaults);
        EXPECT_EQ(pending(), kDefaults);
        EXPECT_EQ(mainWindow(), kDefaults) << "at once, before the dialog closes";
        EXPECT_EQ(boxTexts(), kDefaultTexts);
        press(Form23->Cancel_Button);
    });
    EXPECT_FALSE(stillOpen);
    EXPECT_EQ(committed(), kDefaults);
    EXPECT_EQ(mainWindow(), kDefaults);
    EXPECT_EQ(boxTexts(), kDefaultTexts);
}

TEST_F(SettingsDialog, CommittedValuesWithNoRowLeaveTheBoxText)
{
    withDialogOpen([] {
        pickItem(Form23->StopBit_ComboBox, "2");
        pickItem(Form23->BaudRate_ComboBox, "2400");
        typeInto(Form23->COMPort_ComboBox, "x");
    });
    setCommitted({ "COM7", 600.0, 4, 6, 1 });
    setPending({ "COM7", 600.0, 4, 6, 1 });
    withDialogOpen([] {
        EXPECT_EQ(boxTexts(), (std::vector<std::string> { "x", "2400", "Space", "6", "2" }));
        press(Form23->OK_Button);
    });
    EXPECT_EQ(mainWindow(), (LineValues { "COM7", 600.0, 4, 6, 1 }))
        << "the loaded values are committed as they are";
}

TEST_F(SettingsDialog, EnterAndEscPressNoButtonWhereverTheFocusIs)
{
    const bool stillOpen = withDialogOpen([] {
        pickItem(Form23->BaudRate_ComboBox, "300");
        for (QWidget* focus : std::vector<QWidget*> { Form23->BaudRate_ComboBox->lineEdit(),
                 Form23->OK_Button, Form23->Cancel_Button, Form23->Button1 }) {
            focus->setFocus(Qt::TabFocusReason);
            EXPECT_TRUE(waitUntil([focus] { return focus->hasFocus(); }))
                << focus->objectName().toStdString();
            for (Qt::Key key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape })
                QTest::keyClick(focus, key);
            spinFor(50ms);
            EXPECT_TRUE(Form23->isVisible()) << "with the focus on " << focus->objectName().toStdString();
        }
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(committed(), kDefaults) << "Enter did not press OK";
    EXPECT_EQ(Form23->NewBaudRate, 300.0) << "Esc did not undo the pending choice";
}

TEST_F(SettingsDialog, SpaceOnAFocusedButtonPressesIt)
{
    const bool stillOpen = withDialogOpen([] {
        pickItem(Form23->BaudRate_ComboBox, "57600");
        Form23->OK_Button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Form23->OK_Button, Qt::Key_Space);
    });
    EXPECT_FALSE(stillOpen);
    EXPECT_EQ(Form23->CurBaudRate, 57600.0);
}

TEST_F(SettingsDialog, ClosingByTheFrameActsAsCancelAndKeepsTheDialog)
{
    QPointer<TForm23> dialog = Form23;
    const bool stillOpen = withDialogOpen([] {
        pickItem(Form23->ParityCheck_ComboBox, "Mark");
        Form23->close();
    });
    EXPECT_FALSE(stillOpen);
    ASSERT_FALSE(dialog.isNull()) << "hidden, not destroyed";
    EXPECT_EQ(committed(), kDefaults);
    EXPECT_EQ(mainWindow(), kDefaults);
    EXPECT_EQ(Form23->ParityCheck_ComboBox->currentText().toStdString(), "Mark") << "the box keeps its text";
    EXPECT_EQ(Form23->NewParity, 3);
}

// The change notification on a combo box of its own, counting the handler's runs.
class ComboUserEdits : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.setEditable(true);
        box.setInsertPolicy(QComboBox::NoInsert);
        box.addItems({ "110", "300", "1200", "COM1" });
        platform::watchUserEdits(&box, &box, [this] { seen.push_back(box.currentText().toStdString()); });
        box.show();
        box.activateWindow();
        box.setFocus();
        waitUntil([this] { return box.lineEdit()->hasFocus(); });
        box.lineEdit()->selectAll();
    }
    QComboBox box;
    std::vector<std::string> seen;
};

TEST_F(ComboUserEdits, OneKeystrokeRunsTheHandlerOnceWithTheCompletedText)
{
    QTest::keyClick(box.lineEdit(), Qt::Key_1);
    EXPECT_EQ(seen, (std::vector<std::string> { "110" }));
    QTest::keyClick(box.lineEdit(), Qt::Key_2);
    EXPECT_EQ(seen, (std::vector<std::string> { "110", "1200" }));
    QTest::keyClick(box.lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(seen, (std::vector<std::string> { "110", "1200", "12" }))
        << "Backspace deletes the selected rest";
}

TEST_F(ComboUserEdits, ProgramSetsRunNothing)
{
    box.setEditText("300");
    box.setCurrentIndex(2);
    box.lineEdit()->setText("x");
    spinFor(20ms);
    EXPECT_TRUE(seen.empty());
}

TEST_F(ComboUserEdits, UpDownAndPasteCountAsUserEdits)
{
    box.setCurrentIndex(0);
    QTest::keyClick(box.lineEdit(), Qt::Key_Down);
    EXPECT_EQ(seen, (std::vector<std::string> { "300" }));
    QGuiApplication::clipboard()->setText("COM");
    QTest::keyClick(box.lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box.lineEdit(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(seen, (std::vector<std::string> { "300", "COM" })) << "a paste is not completed";
}

TEST_F(ComboUserEdits, ChoosingFromTheListRunsTheHandlerWithTheChosenText)
{
    box.setEditText("zz");
    box.showPopup();
    ASSERT_TRUE(waitUntil([this] { return box.view()->isVisible(); }));
    QTest::keyClick(box.view(), Qt::Key_Down);
    QTest::keyClick(box.view(), Qt::Key_Return);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "300");
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
