#include "platform/toolkit/MenuShortcuts.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace platform {

namespace {

// Owned by the window whose actions it looks at.
class ShortcutOverrideFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        const QKeySequence typed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QAction* action : parent()->findChildren<QAction*>()) {
            if (action->isEnabled() && action->shortcut() == typed) {
                // Not claimed by the edit box: the shortcut map gets the key.
                event->ignore();
                return true;
            }
        }
        return false;
    }
};

} // namespace

void letMenuShortcutsWin(QWidget* window)
{
    auto* filter = new ShortcutOverrideFilter(window);
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        edit->installEventFilter(filter);
}

void showSeparatorsAsLines(QWidget* window)
{
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->isSeparator()) {
            action->setText({});
            action->setShortcut({});
        }
    }
}

} // namespace platform
