// The menu shortcuts typed into each edit box of the main window, shared by the offscreen and the
// X11 test: each starts its command; the shortcuts of the menu titles and the separator start none.
#pragma once

#include "app/Main.h"
#include "support/WindowHarness.h"

#include <QAction>
#include <QDialog>
#include <QKeySequence>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

// Keeps the commands' effects out of the way: a close of the main window is refused (Exit would
// end the test process), and any dialog or message box a command shows is closed again at once.
class CommandsHeldBack : public QObject {
public:
    CommandsHeldBack()
    {
        Form1->installEventFilter(this);
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        poll_.start();
    }
    ~CommandsHeldBack() override { Form1->removeEventFilter(this); }
    int closesRefused = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != Form1 || event->type() != QEvent::Close)
            return false;
        ++closesRefused;
        event->ignore();
        return true;
    }

private:
    QTimer poll_;
    MessageBoxWatcher boxes_;
};

inline void activateMainWindow()
{
    Form1->raise();
    Form1->activateWindow();
    ASSERT_TRUE(waitUntil([] { return Form1->isActiveWindow(); })) << "the main window never became active";
}

// Types every menu shortcut into both edit boxes and checks which menu item each one triggered.
inline void checkMenuShortcutsFromEachEditBox()
{
    const std::vector<std::pair<QKeyCombination, QAction*>> commands = {
        { Qt::CTRL | Qt::Key_O, Form1->FileOpen },
        { Qt::CTRL | Qt::Key_S, Form1->FileSave },
        { Qt::CTRL | Qt::Key_E, Form1->FileExit },
        { Qt::CTRL | Qt::Key_P, Form1->SerialPortSet },
        { Qt::CTRL | Qt::Key_T, Form1->SerialPortTest },
        { QKeyCombination(Qt::Key_F1), Form1->About },
        { Qt::CTRL | Qt::ALT | Qt::Key_F, nullptr },
        { Qt::CTRL | Qt::ALT | Qt::Key_S, nullptr },
        { Qt::CTRL | Qt::ALT | Qt::Key_H, nullptr },
        { Qt::CTRL | Qt::Key_F12, nullptr },
    };
    CommandsHeldBack heldBack;
    // The commands are the actions that name a handler; Qt does fire a separator's shortcut, but
    // the separator names none, so Ctrl+F12 starts nothing.
    std::map<QAction*, std::unique_ptr<QSignalSpy>> spies;
    for (QAction* action : Form1->findChildren<QAction*>())
        if (!action->property("handler").toByteArray().isEmpty())
            spies[action] = std::make_unique<QSignalSpy>(action, &QAction::triggered);
    ASSERT_EQ(spies.size(), 10u) << "six menu items and four tool buttons start commands";
    for (QLineEdit* edit : { Form1->RX_Edit, Form1->TX_Edit }) {
        for (const auto& [keys, expected] : commands) {
            activateMainWindow();
            edit->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(waitUntil([edit] { return edit->hasFocus(); }));
            for (auto& [action, spy] : spies)
                spy->clear();
            QTest::keyClick(edit, keys.key(), keys.keyboardModifiers());
            const QString typed = QKeySequence(keys).toString() + " in " + edit->objectName();
            if (expected) {
                EXPECT_TRUE(waitUntil([&] { return spies[expected]->count() == 1; }))
                    << typed.toStdString() << " should start " << expected->objectName().toStdString();
            } else {
                spinFor(std::chrono::milliseconds(50));
            }
            for (auto& [action, spy] : spies)
                EXPECT_EQ(spy->count(), action == expected ? 1 : 0)
                    << typed.toStdString() << " started " << action->objectName().toStdString();
        }
    }
    EXPECT_EQ(heldBack.closesRefused, 2) << "Ctrl+E closes the main window from either edit box";
}
