// The main window on a real X server: the menu shortcuts from the edit boxes, and Ctrl+E typed into
// the real program ending it at once whatever it is busy with.
#include "app/Main.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

// Counts the shortcuts that reach each action it filters, and keeps them from starting anything.
struct ShortcutCounter : QObject {
    std::map<QObject*, int> hits;
    bool eventFilter(QObject* a, QEvent* e) override { return e->type() == QEvent::Shortcut && ++hits[a]; }
};

TEST(OnX11, EveryMenuShortcutReachesItsCommandFromEitherEditBox)
{
    const std::vector<std::pair<QKeyCombination, QAction*>> keys { { Qt::CTRL | Qt::Key_O, Form1->FileOpen },
        { Qt::CTRL | Qt::Key_S, Form1->FileSave }, { Qt::CTRL | Qt::Key_E, Form1->FileExit },
        { Qt::CTRL | Qt::Key_P, Form1->SerialPortSet }, { Qt::CTRL | Qt::Key_T, Form1->SerialPortTest },
        { QKeyCombination(Qt::Key_F1), Form1->About },
        { Qt::CTRL | Qt::ALT | Qt::Key_F, nullptr }, // menu titles
        { Qt::CTRL | Qt::ALT | Qt::Key_S, nullptr }, { Qt::CTRL | Qt::ALT | Qt::Key_H, nullptr },
        { Qt::CTRL | Qt::Key_F12, nullptr } }; // and the separator
    ShortcutCounter counter;
    std::vector<QAction*> commands;
    for (QAction* action : Form1->findChildren<QAction*>())
        if (!action->property("handler").toByteArray().isEmpty())
            action->installEventFilter(&counter), commands.push_back(action);
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit })
        for (const auto& [key, expected] : keys) {
            Form1->activateWindow(), edit->setFocus();
            ASSERT_TRUE(waitUntil([edit] { return Form1->isActiveWindow() && edit->hasFocus(); }));
            counter.hits.clear();
            QTest::keyClick(edit, key.key(), key.keyboardModifiers());
            for (QAction* action : commands)
                EXPECT_EQ(counter.hits[action], action == expected ? 1 : 0)
                    << QKeySequence(key).toString().toStdString() << " in "
                    << edit->objectName().toStdString() << " reached " << action->objectName().toStdString();
        }
}

QString xdotool(const QStringList& args)
{
    QProcess tool;
    tool.start("xdotool", args), tool.waitForFinished(5000);
    return QString::fromUtf8(tool.readAllStandardOutput()).section('\n', 0, 0).trimmed();
}

TEST(OnX11, CtrlEEndsTheRealProgramAtOnceWhileAReceiveTestHoldsThePortOrAnErrorBoxIsUp)
{
    if (qgetenv("COMTEST_BINARY").isEmpty() || xdotool({ "version" }).isEmpty())
        GTEST_SKIP() << "needs the built program and xdotool";
    Form1->hide(); // the program's window has this one's layout: a control is where it is here
    PtyPair farEnd;
    for (const auto& [device, control, busy] : std::vector<std::tuple<std::string, QWidget*, QString>> {
             { farEnd.slavePath(), Form1->RXStart_Button, "" },
             { "/nonexistent", Form1->PCTest_Button, "^ERROR$" } }) {
        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(qgetenv("COMTEST_BINARY"), { "--port", QString::fromStdString("COM1=" + device) });
        const auto window = [&](const QString& name) {
            return xdotool(
                { "search", "--onlyvisible", "--pid", QString::number(program.processId()), "--name", name });
        };
        ASSERT_TRUE(waitUntil([&] { return !window("^COM Test$").isEmpty(); }, 10s)) << "no main window";
        const QPoint at = control->mapTo(Form1, control->rect().center());
        xdotool({ "mousemove", "--sync", "--window", window("^COM Test$"), QString::number(at.x()),
            QString::number(at.y()), "click", "1" });
        const QDir fds(QString("/proc/%1/fd").arg(program.processId()));
        const auto holdsDevice = [&] {
            const auto open = fds.entryInfoList(QDir::Files | QDir::System);
            return std::any_of(open.begin(), open.end(),
                [&](const QFileInfo& fd) { return fd.symLinkTarget() == device.c_str(); });
        };
        ASSERT_TRUE(waitUntil([&] { return busy.isEmpty() ? holdsDevice() : !window(busy).isEmpty(); }, 5s))
            << "RX Start holds the port; TX Start on a missing one shows an error. "
            << program.readAll().toStdString();
        xdotool({ "windowfocus", "--sync", window("^COM Test$") }), xdotool({ "key", "ctrl+e" });
        EXPECT_TRUE(program.waitForFinished(5000) && program.exitStatus() == QProcess::NormalExit
            && program.exitCode() == 0)
            << device << ": " << program.readAll().toStdString();
    }
    Form1->show();
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
