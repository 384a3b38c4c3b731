// The settings and About dialogs driven as a user drives them, from the dialogs' own modal loops.
#include "dialogs/Aboutswform.h"
#include "platform/toolkit/ComboEdits.h"
#include "serial/SettingsTables.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QClipboard>

namespace T = settings_tables;
using Values = std::array<std::string, 5>; // port, rate, parity, data bits, stop bits: the boxes' order
using Fn = std::function<void()>;
// The pending (New), committed (Cur) or main window's () line settings of o.
#define VALUES(o, p) of(o->p##PortName, o->p##BaudRate, o->p##Parity, o->p##ByteSize, o->p##StopBits)

struct Dialogs : ::testing::Test {
    void SetUp() override { Form23->ResetToDefaults(); }
    static std::string str(const std::string& v) { return v; }
    static std::string str(double v) { return QString::number(v).toStdString(); }
    template <typename... V> static Values of(const V&... v) { return { str(v)... }; }
    static Values texts()
    {
        const auto t = [](QComboBox* b) { return b->currentText().toStdString(); };
        return { t(Form23->COMPort_ComboBox), t(Form23->BaudRate_ComboBox), t(Form23->ParityCheck_ComboBox),
            t(Form23->DataBit_ComboBox), t(Form23->StopBit_ComboBox) };
    }
    const Values defaults { "COM1", "19200", "0", "8", "0" };
    static void typeOver(QComboBox* b, const QString& k)
    {
        b->setFocus();
        b->lineEdit()->selectAll();
        QTest::keyClicks(b->lineEdit(), k);
    }
    static void focus(QWidget* w)
    {
        w->activateWindow();
        waitUntil(std::bind(&QWidget::isActiveWindow, w));
    }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    static void press(QWidget* w, const QKeySequence& keys)
    {
        w->setFocus();
        QTest::keySequence(w, keys);
    }

    // Runs steps in the modal loop of the dialog F1 or Ctrl+P shows, then rejects it; true if still up.
    static bool whileOpen(QDialog* dialog, const Fn& steps)
    {
        QTimer poll;
        bool ran = false, stayed = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (ran || QApplication::activeModalWidget() != dialog)
                return;
            ran = true;
            focus(dialog);
            steps();
            stayed = dialog->isVisible();
            dialog->reject();
        });
        poll.start(5);
        focus(Form1);
        QTest::keySequence(Form1, QKeySequence(dialog == Form19 ? "F1" : "Ctrl+P"));
        EXPECT_TRUE(ran) << "the dialog showed modally";
        return stayed;
    }
};

TEST_F(Dialogs, OpeningShowsTheCommittedRowsWhoseValuesReadAsTheirTexts)
{
    Form1->BaudRate = 9;
    TForm23 fresh; // commits the defaults to the main window at once
    EXPECT_EQ(VALUES(Form1, ), defaults);
    for (size_t r = 0; r < T::bauds.size(); ++r) { // every row of every table, the shorter ones wrapping
        const auto [port, baud, parity, bits, stop] = std::tuple(
            T::ports[r % 4], T::bauds[r], T::parities[r % 5], T::dataBits[r % 4], T::stopBits[r % 2]);
        Form23->TakeSettings({ uint32_t(baud.second), parity.second, bits.second, stop.second, port.second });
        Values shown;
        whileOpen(Form23, [&] { shown = texts(); });
        EXPECT_EQ(shown, Values({ port.first, baud.first, parity.first, bits.first, stop.first })) << r;
        shown[2] = std::to_string(r % 5); // parity and stop bits: their codes
        shown[4] = std::to_string(2 * (r % 2));
        EXPECT_EQ(VALUES(Form23, Cur), shown) << "the others read as their texts";
    }
}

TEST_F(Dialogs, ButtonsAndKeysCommitKeepOrResetTheChoice)
{
    const platform::LineSettings off { 600, 9, 9, 1, "COM7" }; // committed earlier, matching no row
    const Values offValues { "COM7", "600", "9", "9", "1" }, second { "COM2", "300", "1", "6", "2" }; // row 1
    const auto ok = [](const QKeySequence& keys) { return [keys] { press(Form23->OK_Button, keys); }; };
    const std::tuple<const char*, Fn, bool, const Values*> rows[] // stays up? commits what?
        = { { "Space on OK", ok(Qt::Key_Space), false, &second },
              { "Cancel", [] { click(Form23->Cancel_Button); }, false, &offValues },
              { "Default", [] { click(Form23->Default_Button); }, true, &defaults },
              { "Enter and Esc", ok({ Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape }), true, &offValues } };
    for (const QPushButton* button : Form23->findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString() << " is not drawn as Enter's";
    for (const auto& [how, act, stays, committed] : rows) {
        SCOPED_TRACE(how);
        Form23->TakeSettings(off);
        EXPECT_FALSE(whileOpen(Form23, [] { click(Form23->OK_Button); })) << "OK closes";
        const auto choose = [&] {
            EXPECT_EQ(texts(), Values({ "COM1", "19200", "None", "8", "1" })) << "no row leaves the texts";
            for (QComboBox* box : Form23->findChildren<QComboBox*>()) // the second row, then a letter more
                typeOver(box, box->itemText(1) + "~");
            EXPECT_EQ(VALUES(Form23, New), second) << "the row's value outlasts the letter";
            act();
        };
        EXPECT_EQ(whileOpen(Form23, choose), stays);
        EXPECT_EQ(VALUES(Form23, Cur), *committed);
        EXPECT_EQ(VALUES(Form1, ), VALUES(Form23, Cur)) << "OK copies even values with no row as they are";
        EXPECT_EQ(VALUES(Form23, New), committed == &defaults ? defaults : second);
        Form23->ResetToDefaults();
    }
}

TEST_F(Dialogs, ThePortListIsCom1To4ThenThePresentNamesAndTheTableOfItsHandler)
{
    Form23->TakeSettings({ 19200, 0, 8, 0, "COM12" });
    whileOpen(Form23, [] {
        QComboBox* box = Form23->COMPort_ComboBox;
        Form23->ListPorts({ 1, 5, 12 });
        Form23->RefreshControls();
        EXPECT_EQ(box->currentText(), "COM12") << "a listed name is shown";
        EXPECT_EQ(box->itemText(4) + box->itemText(box->count() - 1), "COM5COM12") << "after COM1 to COM4";
        typeOver(box, "COM12");
        typeOver(box, "com5");
        EXPECT_EQ(Form23->NewPortName, "COM12") << "a listed name is taken, one not listed is not";
        Form23->ListPorts({ 7 });
        EXPECT_EQ(box->itemText(3) + box->itemText(box->count() - 1), "COM4COM7") << "listed again";
    });
}

TEST_F(Dialogs, AboutShowsTheVersionReadOnlyButSelectableUntilOk)
{
    EXPECT_FALSE(whileOpen(Form19, [] {
        QPlainTextEdit* memo = Form19->Memo1;
        memo->setFocus();
        QTest::keyClicks(memo, "x");
        QTest::keyClick(memo, Qt::Key_End, Qt::ShiftModifier);
        EXPECT_EQ(memo->textCursor().selectedText().toStdString(), "Software Version:" COMTEST_VERSION);
        click(Form19->OK_Button);
    }));
}

TEST_F(Dialogs, ComboEditsRunTheHandlerOnceForEachUserEdit)
{
    QComboBox box;
    box.setEditable(true);
    box.addItems({ "110", "300" });
    box.show();
    focus(&box);
    std::vector<std::string> seen;
    platform::watchUserEdits(&box, &box, [&] { seen.push_back(box.currentText().toStdString()); });
    QLineEdit* edit = box.lineEdit();
    typeOver(&box, "1"); // completed, cut, chosen
    press(edit, Qt::Key_Backspace);
    press(edit, Qt::Key_Down);
    edit->setText("x"); // the program's own changes
    box.setEditText("300");
    box.setCurrentIndex(0);
    QGuiApplication::clipboard()->setText("CO"); // pasted as the context menu does
    edit->selectAll();
    edit->paste();
    EXPECT_EQ(seen, std::vector<std::string>({ "110", "1", "300", "CO" }));
    press(edit, Qt::Key_F4);
    EXPECT_NE(QApplication::activePopupWidget(), nullptr) << "F4 in the field opens the list";
}
