// The About dialog command.
#include "app/Main.h"

#include "dialogs/Aboutswform.h"

void TForm1::AboutClick(QObject*)
{
    // Closing the dialog is all its answer means; the result is not needed.
    Form19->exec();
}
