// Open and Save of settings files, and the stop routine that Open runs.
#include "Main.h"

void TForm1::FileOpenClick(QObject*) { }

void TForm1::FileSaveClick(QObject*) { }

void TForm1::TXRXStop_ButtonClick(QObject*) { }
