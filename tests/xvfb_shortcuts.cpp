// On a real X server: the menu shortcuts from the edit boxes, and Ctrl+E ending the real program.
#include "support/WindowHarness.h"

#include <QProcess>
#include <QStandardPaths>

TEST(OnX11, EveryMenuShortcutReachesItsCommandFromEitherEditBox)
{
    const std::pair<const char*, std::string> keys[] = { { "Ctrl+O", "FileOpen" }, { "Ctrl+S", "FileSave" },
        { "Ctrl+E", "FileExit" }, { "Ctrl+P", "SerialPortSet" }, { "Ctrl+T", "SerialPortTest" },
        { "F1", "About" }, { "Ctrl+Alt+F", "" }, { "Ctrl+F12", "" } }; // a menu, the separator
    std::string hits;
    for (QAction* action : Form1->findChildren<QAction*>()) // records the commands instead of running them
        if (QObject::disconnect(action, &QAction::triggered, Form1, nullptr))
            QObject::connect(
                action, &QAction::triggered, [&hits, action] { hits += action->objectName().toStdString(); });
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit })
        for (const auto& [key, expected] : keys) {
            Form1->activateWindow();
            edit->setFocus();
            ASSERT_TRUE(waitUntil([] { return Form1->isActiveWindow(); })) << "the window is active";
            ASSERT_TRUE(waitUntil([edit] { return edit->hasFocus(); })) << "the box has the focus";
            hits.clear();
            QTest::keySequence(edit, QKeySequence(key));
            EXPECT_EQ(hits, expected) << key << " in " << edit->objectName().toStdString();
        }
}

// The receive test holds the port when Ctrl+E ends the program; the test keeps the pty open meanwhile.
TEST(OnX11, CtrlEEndsTheRealProgramAtOnceAndLeavesNothingOnItsPort)
{
    if (qgetenv("COMTEST_BINARY").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs the built program and xdotool";
    Form1->hide(); // with this one up the keys miss the program
    PtyPair pty;
    QProcess program, xdotool;
    program.start(qgetenv("COMTEST_BINARY"), { "--port", QString::fromStdString("COM1=" + pty.slavePath()) });
    const QPoint rxStart = Form1->RXStart_Button->mapTo(Form1, Form1->RXStart_Button->rect().center());
    xdotool.start("xdotool",
        { "search", "--sync", "--onlyvisible", "--pid", QString::number(program.processId()), "--name",
            "^COM Test$", "windowfocus", "--sync", "%1", "mousemove", "--window", "%1",
            QString::number(rxStart.x()), QString::number(rxStart.y()), "click", "1" });
    EXPECT_TRUE(xdotool.waitForFinished(10000));
    EXPECT_TRUE(waitUntil([&] { return !pty.locksLeft().empty(); })) << "RX Start took the port";
    xdotool.start("xdotool", { "key", "ctrl+e" });
    EXPECT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, 0);
    EXPECT_EQ(pty.locksLeft(), "") << "left on the port after Exit";
}
