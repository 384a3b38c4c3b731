#include "Aboutswform.h"

#include "platform/FormScaler.h"
#include "platform/HandlerBinder.h"

TForm19* Form19 = nullptr;

TForm19::TForm19(QWidget* owner)
    : QDialog(owner)
{
    setupUi(this);
    platform::scaleForm(this);
    platform::bindHandlersByName(this, this);
}

void TForm19::OK_ButtonClick(QObject*) { close(); }
