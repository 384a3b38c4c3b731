// Exit ends the program at once: with a receive test holding the port and an owner-less message
// box up, closing the main window ends the box's loop and the main loop, and no message follows.
// Its own process, since it ends the application's event loop.
#include "app/Main.h"
#include "app/Startup.h"
#include "platform/registry/PortRegistry.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/MessageBox.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

TEST(Exit, EndsEveryLoopAtOnceWithAPortOpenAndABoxUp)
{
    PtyPair farEnd;
    platform::PortRegistry::instance().mapComPort(1, farEnd.slavePath());
    Form1->RXStart_Button->click();
    ASSERT_TRUE(platform::isPort(hComm) && Form1->RXStart_Timer->enabled()) << "RX Start holds the port";

    MessageBoxWatcher watcher(false);
    QSignalSpy ticks(Form1->RXStart_Timer, &platform::WindowTimer::tick);
    bool boxReturned = false;
    QTimer::singleShot(0, [&] {
        platform::messageBox("a box of another step", "ERROR");
        boxReturned = true;
    });
    QElapsedTimer sinceExit;
    qsizetype ticksAtExit = -1;
    QTimer exitWhenTicking;
    QObject::connect(&exitWhenTicking, &QTimer::timeout, [&] {
        if (!visibleMessageBox() || ticks.count() < 1)
            return;
        exitWhenTicking.stop();
        ticksAtExit = ticks.count();
        sinceExit.start();
        Form1->FileExit->trigger();
    });
    exitWhenTicking.start(10);
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); }); // a hang fails rather than times out

    const int status = QCoreApplication::exec();
    ASSERT_EQ(status, 0) << "the main loop ended by Exit";
    EXPECT_LT(sinceExit.elapsed(), 2000) << "at once";
    EXPECT_TRUE(boxReturned) << "the box's own loop returned";
    EXPECT_EQ(ticks.count(), ticksAtExit) << "no tick after Exit";
    EXPECT_FALSE(Form1->isVisible());
    ASSERT_EQ(watcher.seen().size(), 1u) << "no message besides the box that was up";

    platform::messageBox("too late", "ERROR");
    EXPECT_EQ(watcher.seen().size(), 1u) << "a box asked for while ending is not shown";
    EXPECT_TRUE(platform::isPort(hComm)) << "Exit leaves the port for the system to release";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application application(argc, argv);
    createForms();
    Form1->show();
    const int result = RUN_ALL_TESTS();
    destroyForms();
    return result;
}
