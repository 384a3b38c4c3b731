// The serial port settings dialog: the committed (Cur*) and pending (New*) line settings, and
// the five combo boxes that edit the pending ones. The controls are built when first needed.
#pragma once

#include "platform/tty/LineSettings.h"
#include "ui_Cominterfaceform.h"

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

class TForm23 : public QDialog, public Ui::SettingsLayout {
    Q_OBJECT
public:
    explicit TForm23(QWidget* owner = nullptr);
    ~TForm23() override;

    // Builds the controls, showing the defaults, unless they are built already.
    void buildControls();
    // Builds the controls before the first showing.
    void setVisible(bool visible) override;
    // Sets the combo box texts from the committed settings; runs no change handler.
    void RefreshControls();
    // Lists COM1 to COM4 as the layout does, then the names of the given COM numbers above 4 in
    // their order. The port box keeps its text; its list is its handler's table.
    void ListPorts(const std::vector<unsigned>& presentNumbers);
    // Both the committed and the pending set take settings, unchecked against the lists; the main
    // window keeps its copy.
    void TakeSettings(const platform::LineSettings& settings);
    // Commits the defaults and copies them into the pending set and the main window.
    void SetDefaultSettings();
    void ResetToDefaults();

    std::string CurPortName;
    double CurBaudRate = 0.0;
    uint8_t CurParity = 0;
    uint8_t CurByteSize = 0;
    uint8_t CurStopBits = 0;
    std::string NewPortName;
    double NewBaudRate = 0.0;
    uint8_t NewParity = 0;
    uint8_t NewByteSize = 0;
    uint8_t NewStopBits = 0;

public slots:
    void COMPort_ComboBoxChange(QObject* Sender);
    void BaudRate_ComboBoxChange(QObject* Sender);
    void ParityCheck_ComboBoxChange(QObject* Sender);
    void DataBit_ComboBoxChange(QObject* Sender);
    void StopBit_ComboBoxChange(QObject* Sender);
    void OK_ButtonClick(QObject* Sender);
    void Cancel_ButtonClick(QObject* Sender);
    void Default_ButtonClick(QObject* Sender);

private:
    void copyCommittedToMainWindow();
    void showSettings(
        const std::string& port, double baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits);
    bool controlsBuilt_ = false;
};

extern TForm23* Form23;
