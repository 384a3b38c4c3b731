#include "dialogs/Aboutswform.h"

#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"

TForm19* Form19 = nullptr;

TForm19::TForm19(QWidget* owner)
    : QDialog(owner)
    , Ui::AboutLayout() // null control pointers until the controls are built
{
}

void TForm19::buildControls()
{
    if (controlsBuilt_)
        return;
    controlsBuilt_ = true;
    setupUi(this);
    platform::scaleForm(this);
    platform::bindHandlersByName(this, this);
    // Read-only still lets the reader copy a line, by mouse or by keyboard.
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void TForm19::setVisible(bool visible)
{
    if (visible)
        buildControls();
    QDialog::setVisible(visible);
}

void TForm19::OK_ButtonClick(QObject*)
{
    close();
}
