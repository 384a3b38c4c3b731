// The toolkit floor: the least a Qt Widgets window of our size costs, so that the program's start-up,
// memory and idle figures can be read against it. A tool bar with four actions, two line edits and
// two buttons, nothing else.
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QToolBar>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

// "--size WxH" is the program's client size as measured by the runner; "--title T" the caption.
struct FloorOptions {
    int width = 327;
    int height = 194;
    const char* title = "Toolkit Floor";
};

FloorOptions parseOptions(int argc, char** argv)
{
    FloorOptions options;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0)
            std::sscanf(argv[++i], "%dx%d", &options.width, &options.height);
        else if (std::strcmp(argv[i], "--title") == 0)
            options.title = argv[++i];
    }
    return options;
}

void populate(QMainWindow& window)
{
    QToolBar* bar = window.addToolBar("Tools");
    for (const char* name : { "Open", "Save", "Setup", "About" })
        bar->addAction(name);
    auto* page = new QWidget(&window);
    auto* sent = new QLineEdit(page);
    auto* received = new QLineEdit(page);
    auto* send = new QPushButton("Send", page);
    auto* receive = new QPushButton("Receive", page);
    sent->setGeometry(10, 10, 140, 24);
    received->setGeometry(10, 44, 140, 24);
    send->setGeometry(170, 10, 90, 28);
    receive->setGeometry(170, 44, 90, 28);
    window.setCentralWidget(page);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const FloorOptions options = parseOptions(argc, argv);
    QMainWindow window;
    window.setWindowTitle(options.title);
    populate(window);
    window.resize(options.width, options.height);
    window.show();
    return application.exec();
}
