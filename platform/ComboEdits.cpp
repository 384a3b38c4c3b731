#include "ComboEdits.h"

#include <QComboBox>
#include <QLineEdit>

namespace platform {

void watchUserEdits(QComboBox* combo, QObject* context, std::function<void()> handler)
{
    QObject::connect(combo, &QComboBox::textActivated, context, [handler] { handler(); });
    if (QLineEdit* edit = combo->lineEdit())
        QObject::connect(edit, &QLineEdit::textEdited, context, [handler] { handler(); });
}

} // namespace platform
