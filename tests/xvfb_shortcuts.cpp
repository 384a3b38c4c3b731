// The main window on a real X server: menu shortcuts from the edit boxes, and Ctrl+E typed into
// the real program ending it at once.
#include "menu_shortcut_checks.h"
#include "support/PtyPair.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

QString xdotool(const QStringList& args)
{
    QProcess tool;
    tool.start("xdotool", args);
    tool.waitForFinished(5000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// The real program on this X server, its COM1 standing for the given device. Its layout is this
// process's Form1 on the same screen, so a control is found where it is found here.
class RunningProgram {
public:
    explicit RunningProgram(const std::string& device)
    {
        program_.setProgram(QString::fromLocal8Bit(qgetenv("COMTEST_BINARY")));
        program_.setArguments({ "--port", QString::fromStdString("COM1=" + device) });
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start();
        if (program_.waitForStarted())
            mainWindow_ = windowNamed("^COM Test$");
    }
    ~RunningProgram()
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
    }

    bool shown() const { return !mainWindow_.isEmpty(); }
    std::string output() { return program_.readAll().toStdString(); }

    QString windowNamed(const QString& pattern)
    {
        QString window;
        waitUntil(
            [&] {
                window = xdotool({ "search", "--onlyvisible", "--pid", QString::number(program_.processId()),
                                     "--name", pattern })
                             .section('\n', 0, 0);
                return !window.isEmpty();
            },
            std::chrono::seconds(10));
        return window;
    }

    void click(const QWidget* control)
    {
        const QPoint at = control->mapTo(Form1, control->rect().center());
        xdotool({ "windowraise", mainWindow_ });
        xdotool({ "mousemove", "--sync", "--window", mainWindow_, QString::number(at.x()),
            QString::number(at.y()), "click", "1" });
    }

    void typeIntoMainWindow(const QString& keys)
    {
        xdotool({ "windowfocus", "--sync", mainWindow_ });
        xdotool({ "key", keys });
    }

    bool holdsOpen(const std::string& path) const
    {
        const QDir fds(QString("/proc/%1/fd").arg(program_.processId()));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget().toStdString() == path)
                return true;
        return false;
    }

    // Ended by itself within the time, with status 0.
    bool endsWithin(std::chrono::milliseconds time)
    {
        return program_.waitForFinished(static_cast<int>(time.count()))
            && program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0;
    }

private:
    QProcess program_;
    QString mainWindow_;
};

// The program under test shares the screen with this process's own main window: keep that out
// of the way of the clicks.
class RealProgramOnX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qgetenv("COMTEST_BINARY").isEmpty() || xdotool({ "version" }).isEmpty())
            GTEST_SKIP() << "needs the built program and xdotool";
        Form1->hide();
    }
    void TearDown() override { Form1->show(); }
};

} // namespace

TEST(MenuShortcutsOnX11, EveryMenuShortcutWorksFromEitherEditBox)
{
    checkMenuShortcutsFromEachEditBox();
}

TEST_F(RealProgramOnX11, CtrlEEndsItAtOnceWhileAReceiveTestHoldsThePort)
{
    PtyPair farEnd;
    RunningProgram program(farEnd.slavePath());
    ASSERT_TRUE(program.shown()) << "the main window never appeared";
    program.click(Form1->RXStart_Button);
    ASSERT_TRUE(waitUntil([&] { return program.holdsOpen(farEnd.slavePath()); }, std::chrono::seconds(5)))
        << "RX Start opens the port; the program said: " << program.output();
    program.typeIntoMainWindow("ctrl+e");
    EXPECT_TRUE(program.endsWithin(std::chrono::seconds(5))) << "Exit ends the program with status 0";
}

TEST_F(RealProgramOnX11, CtrlEEndsItAtOnceWhileAnErrorBoxIsUp)
{
    RunningProgram program("/nonexistent/comtest-port");
    ASSERT_TRUE(program.shown()) << "the main window never appeared";
    program.click(Form1->PCTest_Button);
    ASSERT_FALSE(program.windowNamed("^ERROR$").isEmpty()) << "TX Start on a missing port shows an error";
    program.typeIntoMainWindow("ctrl+e");
    EXPECT_TRUE(program.endsWithin(std::chrono::seconds(5)))
        << "Exit ends the program, box and all; the program said: " << program.output();
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
