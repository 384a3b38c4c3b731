#include "platform/toolkit/ComboEdits.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <utility>

namespace platform {

namespace {

// The edit field of a watched combo box. QLineEdit reports a keystroke's edit (textEdited) before
// its inline completion extends the text, so the report waits until the field has handled the
// whole event; one keystroke gives one report, with the completed text.
class UserEditField : public QLineEdit {
public:
    UserEditField(QComboBox* combo, std::function<void()> handler)
        : QLineEdit(combo)
        , handler_(std::move(handler))
    {
        connect(this, &QLineEdit::textEdited, this, [this] {
            edited_ = true;
            // An edit from outside any event of the field (an action calling paste()) is complete.
            if (depth_ == 0)
                report();
        });
    }

protected:
    bool event(QEvent* event) override
    {
        ++depth_;
        const bool handled = QLineEdit::event(event);
        if (--depth_ == 0)
            report();
        return handled;
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // QLineEdit would accept the pending completion in the item's letter case ("cOM1"
            // becomes "COM1"), and the dialog would look for a default button. Enter does nothing.
            event->accept();
            return;
        }
        // Opening the list is the combo box's; the field would first accept the completion.
        if (key == Qt::Key_F4
                ? event->modifiers() == Qt::NoModifier
                : (key == Qt::Key_Up || key == Qt::Key_Down) && (event->modifiers() & Qt::AltModifier)) {
            event->ignore();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    void report()
    {
        if (!edited_)
            return;
        edited_ = false;
        handler_();
    }

    std::function<void()> handler_;
    int depth_ = 0;
    bool edited_ = false;
};

} // namespace

void watchUserEdits(QComboBox* combo, QObject* context, std::function<void()> handler)
{
    // Emitted only for the user's choice from the list (click, Up/Down, wheel), after the text.
    QObject::connect(combo, &QComboBox::textActivated, context, [handler] { handler(); });
    if (!combo->isEditable())
        return;
    const QString shown = combo->currentText();
    // Turning editing off deletes the old field later, not at once as setLineEdit would: whoever
    // walks the form's children while binding never meets a deleted one.
    combo->setEditable(false);
    combo->setLineEdit(new UserEditField(combo, std::move(handler)));
    combo->setEditText(shown);
    // When editing finishes (Enter, or the focus leaving) the combo box looks the text up without
    // regard to case and selects the item it finds: "cOM1" would turn into the choice "COM1".
    QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
    QObject::disconnect(combo->lineEdit(), &QLineEdit::returnPressed, combo, nullptr);
}

} // namespace platform
