// The real windows in a test process: the globals allow one set per process, so a test file that
// needs them ends with `int main(int argc, char** argv) { return runWindowTests(argc, argv); }`.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QMessageBox;

// Creates the application object (with the exception display) and the three windows in start-up
// order, shows the main window, runs every test, and destroys the windows.
int runWindowTests(int argc, char** argv);

// Ends whatever test runs and puts the main window back as start-up leaves it: no port, no timer,
// empty boxes, RX Start enabled, the default line settings, an empty receive buffer.
void resetMainWindowToIdle();

// Spins the event loop until condition holds or the timeout passed; returns whether it held.
bool waitUntil(
    const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(3));

// Spins the event loop for the given time (for checking that something does NOT happen).
void spinFor(std::chrono::milliseconds time);

// The owner-less message box that is up now, or nullptr.
QMessageBox* visibleMessageBox();

struct SeenBox {
    std::string caption;
    std::string text;
};

// Watches for message boxes while it lives, records each one once, and (when answering) presses
// its OK as soon as it shows. Runs from the event loop, so it also answers nested boxes.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(bool answer = true);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    const std::vector<SeenBox>& seen() const;
    void setAnswering(bool answer);

private:
    struct State;
    State* state_;
};
