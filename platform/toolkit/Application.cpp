#include "platform/toolkit/Application.h"

#include "platform/toolkit/MessageBox.h"

#include <QWidget>
#include <cctype>
#include <exception>

namespace platform {

namespace {

std::string title = "Comtest";

} // namespace

std::string applicationTitle(const std::string& argv0)
{
    std::string name = argv0.substr(argv0.find_last_of('/') + 1); // npos + 1 is 0
    name = name.substr(0, name.find('.'));
    for (size_t i = 1; i < name.size(); ++i)
        name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    return name;
}

void showException(const std::exception* error)
{
    messageBox(error ? error->what() : "", title, BoxIcon::Stop);
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    title = applicationTitle(argc > 0 ? argv[0] : "");
    setApplicationName(QString::fromStdString(title));
    // Closing the main window ends the program, whatever other windows are up.
    setQuitOnLastWindowClosed(false);
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showException(&error);
    } catch (...) {
        showException(nullptr);
    }
    return false;
}

void Application::endNow()
{
    dismissAllMessageBoxes();
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}

} // namespace platform
