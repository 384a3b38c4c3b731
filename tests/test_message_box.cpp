// Message boxes and the exception display: a box leaves the main window usable and its timers
// ticking; an exception escaping a handler is shown in a box and the program goes on.
#include "app/Main.h"
#include "platform/registry/PortRegistry.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/toolkit/MessageBox.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using std::chrono::milliseconds;

// A window whose button handler, bound by name, throws what the test asks it to.
class ThrowingForm : public QWidget {
    Q_OBJECT
public:
    ThrowingForm()
    {
        Throw_Button->setObjectName("Throw_Button");
        Throw_Button->setProperty("handler", QByteArray("Throw_ButtonClick"));
        platform::bindHandlersByName(this, this);
        show();
    }
    QPushButton* const Throw_Button = new QPushButton("Throw", this);
    int calls = 0;
    bool throwStandard = true;

public slots:
    void Throw_ButtonClick(QObject*)
    {
        ++calls;
        if (throwStandard)
            throw std::runtime_error("the handler failed");
        throw 42;
    }
};

// Answers the box that is up once done() holds, and records what ran while it was up.
class BoxDriver {
public:
    explicit BoxDriver(std::function<bool()> done)
    {
        QObject::connect(&poll_, &QTimer::timeout, [this, done] {
            if (QMessageBox* box = visibleMessageBox(); box && done()) {
                poll_.stop();
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll_.start(10);
    }

private:
    QTimer poll_;
};

std::string title()
{
    return platform::applicationTitle(QCoreApplication::arguments().value(0).toStdString());
}

} // namespace

TEST(MessageBox, TimersTickAndClicksReachTheMainWindowWhileABoxIsUp)
{
    PtyPair farEnd;
    platform::PortRegistry::instance().mapComPort(1, farEnd.slavePath());
    QSignalSpy ticks(Form1->RXStart_Timer, &platform::WindowTimer::tick);
    bool clicked = false;
    BoxDriver driver([&] {
        if (!clicked) {
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box blocks no window";
            // Through the main window's own window, where the toolkit would apply modality.
            QTest::mouseClick(Form1->windowHandle(), Qt::LeftButton, {},
                Form1->RXStart_Button->mapTo(Form1, Form1->RXStart_Button->rect().center()));
            clicked = true;
        }
        return ticks.count() >= 2;
    });
    QElapsedTimer shown;
    shown.start();
    platform::messageBox("text of the box", "ERROR");
    EXPECT_GE(ticks.count(), 2) << "the receive test's timer ticked while the box was up";
    EXPECT_GE(shown.elapsed(), 1000) << "the box returned only when answered";
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled()) << "the click on RX Start was handled";
    EXPECT_TRUE(platform::isPort(hComm)) << "RX Start opened the port";
    EXPECT_EQ(visibleMessageBox(), nullptr);
    // Leave the window as start-up left it.
    RS232Port.ClosePort();
    Form1->RXStart_Timer->setEnabled(false);
    Form1->RXStart_Button->setEnabled(true);
}

TEST(MessageBox, ShowsCaptionTextOneOkButtonAndNoIcon)
{
    MessageBoxWatcher watcher(false);
    SeenBox seen;
    QMessageBox::Icon icon = QMessageBox::Critical;
    int buttons = 0;
    BoxDriver driver([&] {
        icon = visibleMessageBox()->icon();
        buttons = static_cast<int>(visibleMessageBox()->buttons().size());
        return true;
    });
    platform::messageBox("通訊埠設定錯誤!!!", "ERROR");
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].caption, "ERROR");
    EXPECT_EQ(watcher.seen()[0].text, "通訊埠設定錯誤!!!");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
}

TEST(ExceptionDisplay, AnExceptionInAHandlerIsShownAndTheProgramGoesOn)
{
    ThrowingForm form;
    MessageBoxWatcher watcher(false);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    BoxDriver driver([&] { return (icon = visibleMessageBox()->icon()), true; });
    QTest::mouseClick(form.Throw_Button, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return watcher.seen().size() == 1 && !visibleMessageBox(); }));
    EXPECT_EQ(watcher.seen()[0].caption, title()) << "the application title";
    EXPECT_EQ(watcher.seen()[0].text, "the handler failed");
    EXPECT_EQ(icon, QMessageBox::Critical) << "a stop icon";

    form.throwStandard = false;
    BoxDriver again([] { return true; });
    QTest::mouseClick(form.Throw_Button, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return watcher.seen().size() == 2 && !visibleMessageBox(); }));
    EXPECT_EQ(watcher.seen()[1].caption, title());
    EXPECT_EQ(watcher.seen()[1].text, "") << "an exception of another kind has no message";
    EXPECT_EQ(form.calls, 2) << "the handler ran again after the first exception";
}

TEST(ExceptionDisplay, ApplicationTitleIsTheExecutableNameCutBeforeItsFirstDot)
{
    EXPECT_EQ(platform::applicationTitle("/usr/bin/comtest"), "comtest");
    EXPECT_EQ(platform::applicationTitle("./ComTest.Tool.exe"), "Comtest");
    EXPECT_EQ(platform::applicationTitle("dir.d/COMTEST"), "Comtest");
    EXPECT_EQ(platform::applicationTitle("/opt/x/.hidden"), "");
    EXPECT_EQ(title(), "test_message_box");
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}

#include "test_message_box.moc"
