#include "WindowHarness.h"

#include "app/Startup.h"
#include "platform/toolkit/Application.h"

#include <QPushButton>

int runWindowTests(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application application(argc, argv);
    createForms();
    Form1->show();
    const int result = RUN_ALL_TESTS();
    destroyForms();
    return result;
}

QMessageBox* visibleMessageBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

MessageBoxWatcher::MessageBoxWatcher(std::function<void()> onBox)
    : onBox_(std::move(onBox))
{
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        QMessageBox* box = visibleMessageBox();
        // A mark on the box itself: a later box may reuse a deleted one's address.
        if (box && !box->property("seenByWatcher").toBool()) {
            box->setProperty("seenByWatcher", true);
            seen_.push_back({ box->windowTitle().toStdString(), box->text().toStdString(),
                box->informativeText().toStdString() });
            if (onBox_)
                onBox_(); // a timer does not fire again while its own slot runs
        }
        if (box && visibleMessageBox() == box)
            box->button(QMessageBox::Ok)->click();
    });
    poll_.start(5);
}
