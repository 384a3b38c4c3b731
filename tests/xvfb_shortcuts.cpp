// On a real X server: the menu shortcuts from the edit boxes, and Ctrl+E ending the real program.
#include "support/WindowHarness.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

// Records the commands that shortcuts reach, and keeps them from starting anything.
struct ShortcutCounter : QObject {
    std::string hits;
    bool eventFilter(QObject* a, QEvent* e) override
    {
        return e->type() == QEvent::Shortcut && (hits += a->objectName().toStdString(), true);
    }
};

TEST(OnX11, EveryMenuShortcutReachesItsCommandFromEitherEditBox)
{
    const std::pair<const char*, std::string> keys[] = { { "Ctrl+O", "FileOpen" }, { "Ctrl+S", "FileSave" },
        { "Ctrl+E", "FileExit" }, { "Ctrl+P", "SerialPortSet" }, { "Ctrl+T", "SerialPortTest" },
        { "F1", "About" }, { "Ctrl+Alt+F", "" }, { "Ctrl+F12", "" } }; // a menu, the separator
    ShortcutCounter counter;
    for (QAction* action : Form1->findChildren<QAction*>())
        if (!action->property("handler").toByteArray().isEmpty())
            action->installEventFilter(&counter);
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit })
        for (const auto& [key, expected] : keys) {
            Form1->activateWindow(), edit->setFocus();
            ASSERT_TRUE(waitUntil([edit] { return Form1->isActiveWindow() && edit->hasFocus(); }));
            counter.hits.clear(), QTest::keySequence(edit, QKeySequence(key));
            EXPECT_EQ(counter.hits, expected) << key << " in " << edit->objectName().toStdString();
        }
}

TEST(OnX11, CtrlEEndsTheRealProgramAtOnceWhileAReceiveTestHoldsThePort)
{
    if (qgetenv("COMTEST_BINARY").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs the built program and xdotool";
    Form1->hide(); // the program's window has this one's layout: RX Start is where it is here
    PtyPair farEnd;
    const QString device = QString::fromStdString(farEnd.slavePath());
    QProcess program, xdotool;
    program.start(qgetenv("COMTEST_BINARY"), { "--port", "COM1=" + device });
    const QString pid = QString::number(program.processId());
    const QStringList window { "search", "--sync", "--onlyvisible", "--pid", pid, "--name", "^COM Test$" };
    const QPoint at = Form1->RXStart_Button->mapTo(Form1, Form1->RXStart_Button->rect().center());
    const auto holdsPort = [&] {
        const auto fds = QDir("/proc/" + pid + "/fd").entryInfoList(QDir::Files | QDir::System);
        return std::ranges::any_of(fds, [&](const QFileInfo& fd) { return fd.symLinkTarget() == device; });
    };
    const QStringList click { "mousemove", "--window", "%1", QString::number(at.x()), QString::number(at.y()),
        "click", "1" };
    xdotool.start("xdotool", window + click);
    ASSERT_TRUE(xdotool.waitForFinished(10000) && waitUntil(holdsPort)) << "RX Start holds the port";
    xdotool.start("xdotool", window + QStringList { "windowfocus", "--sync", "%1", "key", "ctrl+e" });
    EXPECT_TRUE(xdotool.waitForFinished(5000) && program.waitForFinished(5000)
        && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
    Form1->show();
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
