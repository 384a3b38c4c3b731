// The real windows, one set per process (they are globals): such a test file's main calls runWindowTests.
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
// Runs the event loop (sleeping while idle) until condition holds or 3 s passed.
inline bool waitUntil(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 3000);
}
// The owner-less message box that is up now, or nullptr.
QMessageBox* visibleMessageBox();

struct SeenBox {
    std::string caption, text, detail;
};

// Records each message box shown while it lives: runs onBox inside the box's loop, then presses OK.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::function<void()> onBox = {});
    const std::vector<SeenBox>& seen() const { return seen_; }

private:
    std::function<void()> onBox_;
    std::vector<SeenBox> seen_;
    QTimer poll_;
};
