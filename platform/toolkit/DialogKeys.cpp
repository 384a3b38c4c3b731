#include "platform/toolkit/DialogKeys.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace platform {

namespace {

class SwallowEscape : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return false;
        event->accept();
        return true;
    }
};

} // namespace

void withoutDefaultOrCancelButton(QDialog* dialog)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // The filter sees the keys that the focused control left unused on their way up to the dialog.
    // Enter needs none: with no default button the dialog's own handling does nothing with it.
    dialog->installEventFilter(new SwallowEscape(dialog));
}

} // namespace platform
