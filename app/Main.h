// The main window: tool bar, menus, the "TX/RX" page and the three timers, and the test state
// record that the serial link and the settings dialog read and write directly.
#pragma once

#include "app/Rs232.h"
#include "platform/toolkit/FileDialog.h"
#include "platform/toolkit/WindowTimer.h"
#include "ui_Main.h"

#include <QIcon>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TForm1 : public QMainWindow, public Ui::MainLayout {
    Q_OBJECT
public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    // Non-visual components.
    std::array<QIcon, 6> ImageList1;
    std::unique_ptr<platform::FileDialog> OpenDialog;
    std::unique_ptr<platform::FileDialog> SaveDialog;
    platform::WindowTimer* PCTest_Timer = nullptr;
    platform::WindowTimer* RXStart_Timer = nullptr;
    platform::WindowTimer* TXStart_Timer = nullptr;

    // The test state record, shared with TRS232 and the settings dialog.
    std::string TxText;
    const char* TxChars = nullptr;
    uint8_t RxBuffer[129] = {};
    uint8_t PortOpen = 0;
    std::string PortName;
    double BaudRate = 0.0;
    uint8_t Parity = 0;
    uint8_t ByteSize = 0;
    uint8_t StopBits = 0;
    uint8_t TextMode = 0;

    // The settings block as last loaded or saved, and the file it came from.
    uint8_t FileBuffer[256] = {};
    std::string LastFileName;

public slots:
    void FileOpenClick(QObject* Sender);
    void FileSaveClick(QObject* Sender);
    void FileExitClick(QObject* Sender);
    void SerialPortSetClick(QObject* Sender);
    void SerialPortTestClick(QObject* Sender);
    void AboutClick(QObject* Sender);
    void PCTest_ButtonClick(QObject* Sender);
    void PCTest_TimerTimer(QObject* Sender);
    void RXStart_ButtonClick(QObject* Sender);
    void RXStart_TimerTimer(QObject* Sender);
    void TXRXStop_ButtonClick(QObject* Sender);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createComponents();
};

extern TForm1* Form1;
extern TRS232 RS232Port;
