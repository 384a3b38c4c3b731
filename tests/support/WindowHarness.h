// The real windows in a test process: the globals allow one set per process, so a test file that
// needs them ends with `int main(int argc, char** argv) { return runWindowTests(argc, argv); }`.
#pragma once

#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "support/PtyPair.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// Creates the application and the windows in start-up order, shows the main window, runs the tests.
int runWindowTests(int argc, char** argv);
// Ends whatever test runs and puts the main window back as start-up leaves it: no port, no timer,
// empty boxes, RX Start enabled, the default line settings, an empty receive buffer.
void resetMainWindowToIdle();
// Runs the event loop (sleeping while idle) until condition holds or the timeout passed.
inline bool waitUntil(
    const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(3))
{
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}
// Runs the event loop for the given time (for checking that something does NOT happen).
inline void spinFor(std::chrono::milliseconds time)
{
    QTest::qWait(static_cast<int>(time.count()));
}
// The owner-less message box that is up now, or nullptr.
QMessageBox* visibleMessageBox();

struct SeenBox {
    std::string caption, text;
};

// Records each message box that shows while it lives. When a box first shows it runs onBox inside
// the box's own loop (as a user's click there would), then, when answering, presses its OK.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(bool answer = true, std::function<void()> onBox = {});
    const std::vector<SeenBox>& seen() const { return seen_; }
    void setAnswering(bool answer) { answer_ = answer; }

private:
    bool answer_;
    std::function<void()> onBox_;
    std::vector<SeenBox> seen_;
    QTimer poll_;
};

// The main window with COM1, also as the settings dialog's committed port, standing for the slave
// of a fresh pty; both tests idle before and after.
class WindowOverPty : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { resetMainWindowToIdle(); }
    static void clickTxStart() { QTest::mouseClick(Form1->PCTest_Button, Qt::LeftButton); }
    static void clickRxStart() { QTest::mouseClick(Form1->RXStart_Button, Qt::LeftButton); }
    // Waits until the exchange's (PCTest) or the receive test's (RXStart) timer ticked n times.
    bool exchangeTicks(int n) const
    {
        return waitUntil([&] { return ticks[0] >= n; });
    }
    bool receiveTicks(int n) const
    {
        return waitUntil([&] { return ticks[1] >= n; });
    }
    // Nobody holds the device: this process can take it exclusively (and gives it back at once).
    static bool isFree(const std::string& device);
    // What an ended test leaves: no port, no timer, RX Start usable again.
    static void expectTestsEnded();

    PtyPair pty;
    int ticks[2] = {}; // of the exchange and the receive timer, seen right after their handlers
    QObject context;
};
