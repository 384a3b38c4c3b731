// The settings and About dialogs driven as a user drives them, from the dialogs' own modal loops.
#include "app/Main.h"
#include "dialogs/Aboutswform.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/toolkit/ComboEdits.h"
#include "serial/SettingsTables.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace T = settings_tables;
using Values = std::array<std::string, 5>; // port, rate, parity, data bits, stop bits: the boxes' order
using LS = platform::LineSettings;
using Fn = std::function<void()>;
using Rows = std::vector<std::pair<QString, std::string>>; // a box's texts and the values they stand for
// The pending (New), committed (Cur) or main window's () line settings of o.
#define VALUES(o, p) of(o->p##PortName, o->p##BaudRate, o->p##Parity, o->p##ByteSize, o->p##StopBits)

struct Dialogs : ::testing::Test {
    void SetUp() override { Form23->ResetToDefaults(), defaultTexts = texts(); }
    void TearDown() override { Form23->ResetToDefaults(); }
    static std::string str(const std::string& v) { return v; }
    static std::string str(double v) { return QString::number(v).toStdString(); }
    template <typename... V> static Values of(const V&... v) { return { str(v)... }; }
    static Values of(const LS& s) { return of(s.portName, s.baudRate, s.parity, s.byteSize, s.stopBits); }
    static std::array<QComboBox*, 5> boxes()
    {
        return { Form23->COMPort_ComboBox, Form23->BaudRate_ComboBox, Form23->ParityCheck_ComboBox,
            Form23->DataBit_ComboBox, Form23->StopBit_ComboBox };
    }
    static Values texts()
    {
        Values t;
        for (size_t i = 0; i < 5; ++i)
            t[i] = boxes()[i]->currentText().toStdString();
        return t;
    }
    template <typename V, size_t N> static Rows rows(const T::Table<V, N>& t)
    {
        Rows r;
        for (const auto& [text, v] : t)
            r.push_back({ text, str(v) });
        return r;
    }
    const std::array<Rows, 5> kRows { rows(T::ports), rows(T::bauds), rows(T::parities), rows(T::dataBits),
        rows(T::stopBits) };
    const Values defaults = of(platform::kDefaultLineSettings);
    Values defaultTexts;
    static void typeOver(QComboBox* b, const QString& k)
    {
        b->setFocus(), b->lineEdit()->selectAll(), QTest::keyClicks(b->lineEdit(), k);
    }
    static void activate(QWidget* w)
    {
        w->activateWindow(), waitUntil([w] { return QGuiApplication::focusWindow() == w->windowHandle(); });
    }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    static void press(QWidget* w, Qt::Key key) { w->setFocus(), QTest::keyClick(w, key); }

    // Runs steps from the modal loop of the dialog that open() shows and rejects the dialog if it is
    // still up then; returns whether it was.
    static bool whileOpen(
        QDialog* dialog, const Fn& steps, const Fn& open = [] { Form1->SerialPortSet->trigger(); })
    {
        QTimer poll;
        bool ran = false, stayed = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (ran || QApplication::activeModalWidget() != dialog)
                return;
            ran = true;
            activate(dialog), steps();
            if ((stayed = dialog->isVisible()))
                dialog->reject();
        });
        poll.start(5);
        open();
        EXPECT_TRUE(ran) << "the dialog showed modally and held the command until it closed";
        return stayed;
    }
};

TEST_F(Dialogs, ConstructionWritesTheDefaultsIntoTheMainWindowAndTheControlsComeLater)
{
    Form1->BaudRate = 9;
    TForm23 settings;
    EXPECT_EQ(VALUES(Form1, ), defaults);
    EXPECT_EQ(settings.OK_Button, nullptr);
    settings.RefreshControls();
    EXPECT_NE(settings.OK_Button, nullptr);
}

TEST_F(Dialogs, BoxesListTheTablesAndOpeningShowsTheCommittedRows)
{
    for (size_t i = 0; i < 5; ++i)
        for (size_t r = 0; r < kRows[i].size(); ++r) {
            EXPECT_EQ(boxes()[i]->itemText(int(r)), kRows[i][r].first) << "box " << i << " row " << r;
            if (i != 4) { // parity codes count up the list; ports, rates and sizes read as their texts
                EXPECT_EQ(kRows[i][r].second, i == 2 ? std::to_string(r) : kRows[i][r].first.toStdString());
            }
        }
    for (size_t r = 0; r < T::bauds.size(); ++r) { // every row of every table, the shorter ones wrapping
        Values shown;
        for (size_t i = 0; i < 5; ++i)
            shown[i] = kRows[i][r % kRows[i].size()].first.toStdString();
        Form23->TakeSettings({ uint32_t(T::bauds[r].second), T::parities[r % 5].second,
            T::dataBits[r % 4].second, T::stopBits[r % 2].second, T::ports[r % 4].second });
        whileOpen(Form23, [&] { EXPECT_EQ(texts(), shown) << "row " << r; });
    }
}

// Per box and row: Down or Up onto the neighbouring row, the first letter in lower case (completed,
// keeping its case), the row's text with a letter more (which the row's value outlasts).
TEST_F(Dialogs, EditsOnTheListSetThePendingValueOthersLeaveIt)
{
    whileOpen(Form23, [&] {
        for (size_t i = 0; i < 5; ++i)
            for (int r = 0; r < int(kRows[i].size()); ++r) {
                QComboBox* box = boxes()[i];
                const QString text = kRows[i][r].first, first = text.left(1).toLower();
                const int n = r + 1 < int(kRows[i].size()) ? r + 1 : r - 1;
                const QString shows[] = { kRows[i][n].first,
                    first + box->itemText(box->findText(first, Qt::MatchStartsWith)).mid(1), text + "~" };
                for (int edit = 0; edit < 3; ++edit) {
                    const std::string before = VALUES(Form23, New)[i];
                    box->setCurrentIndex(r);
                    if (edit == 0)
                        QTest::keyClick(box->lineEdit(), n > r ? Qt::Key_Down : Qt::Key_Up);
                    else
                        typeOver(box, edit == 1 ? first : shows[2]);
                    const auto row = std::find_if(kRows[i].begin(), kRows[i].end(),
                        [&](const auto& row) { return row.first == (edit == 2 ? text : shows[edit]); });
                    EXPECT_EQ(box->currentText().toStdString(), shows[edit].toStdString());
                    EXPECT_EQ(VALUES(Form23, New)[i], row == kRows[i].end() ? before : row->second)
                        << shows[edit].toStdString();
                }
            }
    });
}

TEST_F(Dialogs, ButtonsAndKeysCommitKeepOrResetTheChoice)
{
    const platform::LineSettings off { 600, 9, 9, 1, "COM7" }; // committed earlier, matching no row
    const struct {
        const char* how;
        Fn act;
        bool stays, commits, resets;
    } rows[] = { { "Space on OK", [] { press(Form23->OK_Button, Qt::Key_Space); }, false, true, false },
        { "Cancel", [] { click(Form23->Cancel_Button); }, false, false, false },
        { "the frame", [] { Form23->close(); }, false, false, false },
        { "Default", [] { click(Form23->Default_Button); }, true, false, true },
        { "Enter and Esc",
            [] {
                for (QWidget* w : QWidgetList {
                         Form23->COMPort_ComboBox->lineEdit(), Form23->OK_Button, Form23->Cancel_Button })
                    for (Qt::Key key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape })
                        press(w, key);
            },
            true, false, false } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        Form23->TakeSettings(off);
        EXPECT_FALSE(whileOpen(Form23, [] { click(Form23->OK_Button); })) << "OK closes";
        ASSERT_EQ(VALUES(Form1, ), of(off)) << "OK copies the committed values, with no row, as they are";
        Values chosen, chosenTexts;
        const auto choose = [&] {
            EXPECT_EQ(texts(), defaultTexts) << "values with no row leave the texts";
            for (size_t i = 0; i < 5; ++i) // the second row: none holds its default there
                typeOver(boxes()[i], kRows[i][1].first);
            chosen = VALUES(Form23, New), chosenTexts = texts();
            row.act();
        };
        EXPECT_EQ(whileOpen(Form23, choose), row.stays);
        EXPECT_EQ(VALUES(Form23, Cur), row.commits ? chosen : row.resets ? defaults : of(off));
        EXPECT_EQ(VALUES(Form1, ), VALUES(Form23, Cur));
        EXPECT_EQ(VALUES(Form23, New), row.resets ? defaults : chosen);
        EXPECT_EQ(texts(), row.resets ? defaultTexts : chosenTexts);
        Form23->ResetToDefaults();
    }
}

TEST_F(Dialogs, EachWayShowsItsDialogUntilOk)
{
    const auto tool = [](QAction* a) { return [a] { click(Form1->ToolBar1->widgetForAction(a)); }; };
    const std::vector<std::pair<QDialog*, Fn>> ways {
        { Form19, [] { activate(Form1), QTest::keyClick(Form1, Qt::Key_F1); } },
        { Form19, [] { Form1->About->trigger(); } }, { Form19, tool(Form1->About_ToolButton) },
        { Form23, [] { activate(Form1), QTest::keyClick(Form1, Qt::Key_P, Qt::ControlModifier); } },
        { Form23, [] { Form1->SerialPortSet->trigger(); } }, { Form23, tool(Form1->Setup_ToolButton) }
    };
    for (const auto& [dialog, open] : ways) {
        const auto steps = [dialog = dialog] {
            if (dialog == Form19) { // read-only but selectable, the build's version first
                QPlainTextEdit* memo = Form19->Memo1;
                memo->setFocus(), QTest::keyClicks(memo, "x");
                QTest::keyClick(memo, Qt::Key_End, Qt::ShiftModifier);
                EXPECT_EQ(
                    memo->textCursor().selectedText().toStdString(), "Software Version:" COMTEST_VERSION);
            }
            click(dialog->findChild<QPushButton*>("OK_Button"));
        };
        EXPECT_FALSE(whileOpen(dialog, steps, open)) << "OK closes " << dialog->objectName().toStdString();
    }
}

TEST_F(Dialogs, ComboEditsRunTheHandlerOnceForEachUserEdit)
{
    QComboBox box;
    box.setEditable(true);
    box.addItems({ "110", "300" });
    std::vector<std::string> seen;
    platform::watchUserEdits(&box, &box, [&] { seen.push_back(box.currentText().toStdString()); });
    box.show();
    activate(&box);
    QLineEdit* edit = box.lineEdit();
    QGuiApplication::clipboard()->setText("CO");
    const std::vector<std::pair<Fn, std::vector<std::string>>> steps {
        { [&] { typeOver(&box, "1"); }, { "110" } },
        { [&] { QTest::keyClick(edit, Qt::Key_Backspace); }, { "1" } },
        { [&] { edit->setText("x"), box.setEditText("300"), box.setCurrentIndex(1), box.setCurrentIndex(0); },
            {} },
        { [&] { QTest::keyClick(edit, Qt::Key_Down); }, { "300" } },
        { [&] { QTest::keyClick(edit, Qt::Key_Return); }, {} },
        { [&] { edit->selectAll(), edit->paste(); }, { "CO" } } // as the Paste of its context menu does
    };
    for (size_t s = 0; s < steps.size(); ++s) {
        seen.clear();
        steps[s].first();
        EXPECT_EQ(seen, steps[s].second) << "step " << s;
    }
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
