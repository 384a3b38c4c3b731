#include "platform/toolkit/MenuShortcuts.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace platform {

namespace {

class ShortcutOverrideFilter : public QObject {
public:
    explicit ShortcutOverrideFilter(QWidget* window)
        : QObject(window)
        , window_(window)
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        const QKeySequence typed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QAction* action : window_->findChildren<QAction*>()) {
            if (action->isEnabled() && action->shortcut() == typed) {
                // Not claimed by the edit box: the shortcut map gets the key.
                event->ignore();
                return true;
            }
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

void letMenuShortcutsWin(QWidget* window)
{
    auto* filter = new ShortcutOverrideFilter(window);
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        edit->installEventFilter(filter);
}

} // namespace platform
