// Open and Save of settings files, and the stop routine that Open runs.
#include "app/Main.h"

#include "dialogs/Cominterfaceform.h"
#include "platform/files/FileAccess.h"
#include "platform/toolkit/MessageBox.h"
#include "serial/SettingsFile.h"

#include <algorithm>

namespace {

settings_file::Block blockOf(const TForm1& window)
{
    settings_file::Block block;
    std::copy(std::begin(window.FileBuffer), std::end(window.FileBuffer), block.begin());
    return block;
}

platform::LineSettings committedSettings(const TForm23& dialog)
{
    return { platform::lineSpeed(dialog.CurBaudRate), dialog.CurParity, dialog.CurByteSize,
        dialog.CurStopBits, dialog.CurPortName };
}

} // namespace

void TForm1::FileOpenClick(QObject* Sender)
{
    if (!OpenDialog->Execute(this))
        return;
    const auto bytes = platform::readSmallRegularFile(OpenDialog->FileName, settings_file::kFileSize);
    if (!bytes) {
        platform::reportError("Can't Open Txt File");
        return;
    }
    // A file that ends before its port name field is as foreign as one with another header.
    const auto loaded = settings_file::decode(*bytes);
    if (!loaded) {
        platform::reportError("Txt File Format Not Match");
        return;
    }
    std::copy(loaded->block.begin(), loaded->block.end(), FileBuffer);
    Form23->TakeSettings(loaded->settings);
    Form23->RefreshControls();
    TXRXStop_ButtonClick(Sender);
    LastFileName = OpenDialog->FileName;
}

void TForm1::FileSaveClick(QObject*)
{
    SaveDialog->InitialDir = SaveDialog->FileName = LastFileName;
    if (!SaveDialog->Execute(this))
        return;
    const platform::LineSettings settings = committedSettings(*Form23);
    const settings_file::FileBytes file = settings_file::encode(settings, blockOf(*this));
    // The block and the name change only once the file is safely written.
    if (!settings_file::portNameFits(settings.portName)
        || !platform::replaceFileContents(SaveDialog->FileName, file)) {
        platform::reportError("Can't Save Txt File");
        return;
    }
    const settings_file::Block stored = settings_file::storeSettings(blockOf(*this), settings);
    std::copy(stored.begin(), stored.end(), FileBuffer);
    LastFileName = SaveDialog->FileName;
}

void TForm1::TXRXStop_ButtonClick(QObject*)
{
    if (!PortOpen)
        return;
    RS232Port.ClosePort();
    PortOpen = 0;
    PCTest_Timer->setEnabled(false);
    RXStart_Timer->setEnabled(false);
    TXStart_Timer->setEnabled(false);
    RXStart_Button->setEnabled(true);
}
