// The About dialog command.
#include "Main.h"

void TForm1::AboutClick(QObject*) { }
