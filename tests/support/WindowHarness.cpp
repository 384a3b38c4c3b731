#include "WindowHarness.h"

#include "app/Main.h"
#include "app/Startup.h"
#include "platform/toolkit/Application.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <cstring>
#include <gtest/gtest.h>

int runWindowTests(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application application(argc, argv);
    createForms();
    Form1->show();
    waitUntil([] { return Form1->isVisible(); });
    const int result = RUN_ALL_TESTS();
    destroyForms();
    return result;
}

namespace {

// Lets the event loop run for up to a few milliseconds, sleeping while nothing happens (a plain
// processEvents loop would spin and skew the CPU measurements of the tests).
void runEventsBriefly(std::chrono::milliseconds most)
{
    QEventLoop loop;
    QTimer::singleShot(most, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count())
            return false;
        runEventsBriefly(std::chrono::milliseconds(2));
    }
    return true;
}

void spinFor(std::chrono::milliseconds time)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < time.count())
        runEventsBriefly(
            std::min(time - std::chrono::milliseconds(clock.elapsed()), std::chrono::milliseconds(10)));
}

void resetMainWindowToIdle()
{
    RS232Port.ClosePort();
    Form1->PCTest_Timer->setEnabled(false);
    Form1->RXStart_Timer->setEnabled(false);
    Form1->TXStart_Timer->setEnabled(false);
    Form1->TX_Edit->clear();
    Form1->RX_Edit->clear();
    Form1->RXStart_Button->setEnabled(true);
    Form1->PortOpen = 0;
    Form1->TextMode = 0;
    Form1->TxText.clear();
    std::memset(Form1->RxBuffer, 0, sizeof Form1->RxBuffer);
    Form1->PortName = "COM1";
    Form1->BaudRate = 19200.0;
    Form1->Parity = 0;
    Form1->ByteSize = 8;
    Form1->StopBits = 0;
}

QMessageBox* visibleMessageBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

struct MessageBoxWatcher::State {
    bool answer = true;
    std::vector<SeenBox> seen;
    QTimer poll;
};

MessageBoxWatcher::MessageBoxWatcher(bool answer)
    : state_(new State)
{
    state_->answer = answer;
    state_->poll.setInterval(5);
    QObject::connect(&state_->poll, &QTimer::timeout, [state = state_] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            // A mark on the box itself: a later box may reuse a deleted one's address.
            if (!box->property("seenByWatcher").toBool()) {
                box->setProperty("seenByWatcher", true);
                state->seen.push_back({ box->windowTitle().toStdString(), box->text().toStdString() });
            }
            if (state->answer)
                box->button(QMessageBox::Ok)->click();
        }
    });
    state_->poll.start();
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    delete state_;
}

const std::vector<SeenBox>& MessageBoxWatcher::seen() const
{
    return state_->seen;
}

void MessageBoxWatcher::setAnswering(bool answer)
{
    state_->answer = answer;
}
