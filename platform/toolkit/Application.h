// The application object, with the toolkit's exception display: an exception that escapes a
// handler is shown (its message as text, the application title as caption, a stop icon, OK) and
// the event loop goes on.
#pragma once

#include <QApplication>
#include <string>

namespace platform {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Ends the program at once: every message box and modal loop returns, and the main loop ends.
    static void endNow();
};

// The title the program shows on its task-bar entry and its exception boxes: the executable's
// name without folder, cut before its first full stop, first character as is, the rest lower case.
std::string applicationTitle(const std::string& argv0);

// Shows an exception the way the event loop does.
void showException(const std::exception* error);

} // namespace platform
