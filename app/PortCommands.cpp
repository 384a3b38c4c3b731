// The settings dialog command and the port availability check.
#include "Main.h"

void TForm1::SerialPortSetClick(QObject*) { }

void TForm1::SerialPortTestClick(QObject*) { }
