#include "dialogs/Cominterfaceform.h"

#include "app/Main.h"
#include "platform/toolkit/DialogKeys.h"
#include "platform/toolkit/FormScaler.h"
#include "platform/toolkit/HandlerBinder.h"
#include "platform/tty/LineSettings.h"
#include "serial/SettingsTables.h"

#include <optional>

TForm23* Form23 = nullptr;

namespace {

// What a new dialog commits, and what its boxes show until they are first refreshed.
const platform::LineSettings& kDefaults = platform::kDefaultLineSettings;

// The program's own set of a combo box text, which runs no change handler; a value with no row
// leaves the text as it is.
void setText(QComboBox* combo, const std::optional<std::string>& text)
{
    if (text && combo->currentText() != QString::fromStdString(*text))
        combo->setEditText(QString::fromStdString(*text));
}

// The port box's list is its table: each item stands for the name it shows.
std::optional<std::string> listedPort(const QComboBox* combo, const std::string& name)
{
    return combo->findText(QString::fromStdString(name)) >= 0 ? std::optional(name) : std::nullopt;
}

template <typename Value, size_t N>
void takeIfListed(Value& field, const QComboBox* combo, const settings_tables::Table<Value, N>& table)
{
    if (const auto value = settings_tables::valueOf(table, combo->currentText().toStdString()))
        field = *value;
}

} // namespace

TForm23::TForm23(QWidget* owner)
    : QDialog(owner)
    , Ui::SettingsLayout() // null control pointers until the controls are built
{
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    SetDefaultSettings();
}

TForm23::~TForm23() = default;

void TForm23::buildControls()
{
    if (controlsBuilt_)
        return;
    controlsBuilt_ = true;
    setupUi(this);
    platform::scaleForm(this);
    platform::bindHandlersByName(this, this);
    platform::withoutDefaultOrCancelButton(this);
    showSettings(
        kDefaults.portName, kDefaults.baudRate, kDefaults.parity, kDefaults.byteSize, kDefaults.stopBits);
}

void TForm23::setVisible(bool visible)
{
    if (visible)
        buildControls();
    QDialog::setVisible(visible);
}

void TForm23::RefreshControls()
{
    buildControls();
    showSettings(CurPortName, CurBaudRate, CurParity, CurByteSize, CurStopBits);
}

void TForm23::ListPorts(const std::vector<unsigned>& presentNumbers)
{
    buildControls();
    const QString shown = COMPort_ComboBox->currentText();
    const int layoutItems = static_cast<int>(settings_tables::ports.size());
    while (COMPort_ComboBox->count() > layoutItems)
        COMPort_ComboBox->removeItem(COMPort_ComboBox->count() - 1);
    for (const unsigned number : presentNumbers)
        if (number > unsigned(layoutItems))
            COMPort_ComboBox->addItem("COM" + QString::number(number));
    COMPort_ComboBox->setEditText(shown); // a removed current item would take the text with it
}

void TForm23::showSettings(
    const std::string& port, double baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    setText(COMPort_ComboBox, listedPort(COMPort_ComboBox, port));
    setText(BaudRate_ComboBox, settings_tables::baudText(baud));
    setText(ParityCheck_ComboBox, settings_tables::parityText(parity));
    setText(DataBit_ComboBox, settings_tables::dataBitsText(byteSize));
    setText(StopBit_ComboBox, settings_tables::stopBitsText(stopBits));
}

void TForm23::TakeSettings(const platform::LineSettings& settings)
{
    CurPortName = NewPortName = settings.portName;
    CurBaudRate = NewBaudRate = settings.baudRate;
    CurParity = NewParity = settings.parity;
    CurByteSize = NewByteSize = settings.byteSize;
    CurStopBits = NewStopBits = settings.stopBits;
}

void TForm23::SetDefaultSettings()
{
    TakeSettings(kDefaults);
    copyCommittedToMainWindow();
}

void TForm23::ResetToDefaults()
{
    SetDefaultSettings();
    RefreshControls();
}

void TForm23::copyCommittedToMainWindow()
{
    Form1->PortName = CurPortName;
    Form1->BaudRate = CurBaudRate;
    Form1->Parity = CurParity;
    Form1->ByteSize = CurByteSize;
    Form1->StopBits = CurStopBits;
}

void TForm23::COMPort_ComboBoxChange(QObject*)
{
    const std::string text = COMPort_ComboBox->currentText().toStdString();
    if (const auto listed = listedPort(COMPort_ComboBox, text))
        NewPortName = *listed;
}

void TForm23::BaudRate_ComboBoxChange(QObject*)
{
    takeIfListed(NewBaudRate, BaudRate_ComboBox, settings_tables::bauds);
}

void TForm23::ParityCheck_ComboBoxChange(QObject*)
{
    takeIfListed(NewParity, ParityCheck_ComboBox, settings_tables::parities);
}

void TForm23::DataBit_ComboBoxChange(QObject*)
{
    takeIfListed(NewByteSize, DataBit_ComboBox, settings_tables::dataBits);
}

void TForm23::StopBit_ComboBoxChange(QObject*)
{
    takeIfListed(NewStopBits, StopBit_ComboBox, settings_tables::stopBits);
}

void TForm23::OK_ButtonClick(QObject*)
{
    CurPortName = NewPortName;
    CurBaudRate = NewBaudRate;
    CurParity = NewParity;
    CurByteSize = NewByteSize;
    CurStopBits = NewStopBits;
    copyCommittedToMainWindow();
    close();
}

void TForm23::Cancel_ButtonClick(QObject*)
{
    close();
}

void TForm23::Default_ButtonClick(QObject*)
{
    ResetToDefaults();
}
