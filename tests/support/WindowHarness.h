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
// Ends whatever test runs: no port, no timer, empty boxes, RX Start enabled, the default line
// settings, an empty receive buffer.
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
// the box's own loop (as a user's click there would), then presses its OK.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::function<void()> onBox = {});
    const std::vector<SeenBox>& seen() const { return seen_; }

private:
    std::function<void()> onBox_;
    std::vector<SeenBox> seen_;
    QTimer poll_;
};
