// File>Open and File>Save in the real main window and file dialogs, while a receive test runs.
#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/registry/PortRegistry.h"
#include "serial/SettingsFile.h"
#include "support/FolderContents.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <sstream>

namespace {

const auto fileOf = [](const platform::LineSettings& settings) {
    const auto file = settings_file::encode(settings, {});
    return std::string(file.begin(), file.end());
};

// What Open and Save may change: the dialog's committed and pending settings and what it shows,
// the last file name, the receive test (and the other test's timers), and the block.
std::string state()
{
    const TForm23& d = *Form23;
    std::ostringstream s;
    s << d.CurPortName << ' ' << d.CurBaudRate << ' ' << +d.CurParity << +d.CurByteSize << +d.CurStopBits
      << ' ' << d.NewPortName << ' ' << d.NewBaudRate << ' ' << +d.NewParity << +d.NewByteSize
      << +d.NewStopBits << ' ' << d.COMPort_ComboBox->currentText().toStdString() << ' '
      << d.BaudRate_ComboBox->currentText().toStdString() << ' ' << Form1->LastFileName << ' '
      << +Form1->PortOpen << platform::isPort(hComm) << Form1->RXStart_Timer->enabled()
      << Form1->RXStart_Button->isEnabled() << Form1->PCTest_Timer->enabled()
      << Form1->TXStart_Timer->enabled() << ' '
      << std::string(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer));
    return s.str();
}

class SettingsFileWindow : public ::testing::Test {
protected:
    SettingsFileWindow()
    {
        resetMainWindowToIdle();
        Form23->ResetToDefaults(); // as at start-up
        std::fill(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer), 0);
        Form1->LastFileName.clear();
        platform::PortRegistry::instance().mapComPort(1, pty.slavePath());
        Form1->RXStart_Button->click(); // every test runs during a receive test
    }
    ~SettingsFileWindow() override { resetMainWindowToIdle(); }

    // Runs File>Open or File>Save, the dialog answered with name (nullptr: Cancel) and the file it
    // offered noted; gives the messages shown.
    std::string run(QAction* command, const char* name)
    {
        QTimer person;
        QObject::connect(&person, &QTimer::timeout, [&] {
            if (QFileDialog* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                offered = dialog->selectedFiles().value(0).toStdString();
                const QString path = (folder.path + "/").c_str() + QString(name);
                dialog->selectFile(path); // clears the list's selection
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path); // even where it has the focus
                name ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
            }
        });
        person.start(5);
        MessageBoxWatcher boxes;
        command->trigger();
        std::string texts;
        for (const SeenBox& box : boxes.seen())
            texts += box.caption + ": " + box.text;
        return texts;
    }

    PtyPair pty;
    Folder folder;
    std::string offered; // by the last file dialog
};

} // namespace

// A failure or Cancel changes nothing; a good file goes to the dialog (not to the main window's
// line) with its block, and stops the receive test.
TEST_F(SettingsFileWindow, Open)
{
    const std::string good = fileOf({ 115200, 2, 7, 2, "COM3" }), before = state();
    folder.write("good.txt", good);
    folder.write("short.txt", good.substr(0, 295));
    ASSERT_NE(before.find(" 111000 "), std::string::npos) << "the receive test runs: " << before;
    for (const auto& [name, message] : { std::pair<const char*, std::string> { nullptr, "" },
             { "missing.txt", "ERROR: Can't Open Txt File" },
             { "short.txt", "ERROR: Txt File Format Not Match" } }) {
        SCOPED_TRACE(name ? name : "Cancel");
        EXPECT_EQ(run(Form1->FileOpen, name), message);
        EXPECT_EQ(state(), before);
    }
    Form1->PCTest_Timer->setEnabled(true), Form1->TXStart_Timer->setEnabled(true); // Open stops them too
    EXPECT_EQ(run(Form1->FileOpen, "good.txt"), "");
    EXPECT_EQ(state(),
        "COM3 115200 272 COM3 115200 272 COM3 115200 " + folder.path + "/good.txt 000100 "
            + good.substr(36, 256));
    EXPECT_EQ(Form1->PortName + std::to_string(Form1->BaudRate), "COM119200.000000");
}

// A failure or Cancel changes nothing; a good Save writes the committed settings and leaves the
// receive test running; the next Save offers the last file opened and replaces it without asking.
TEST_F(SettingsFileWindow, Save)
{
    Form23->NewPortName = "COM2", Form23->NewBaudRate = 9600; // pending only
    const std::string before = state(), saved = folder.path + "/saved.txt";
    for (const auto& [name, message] : { std::pair<const char*, std::string> { nullptr, "" },
             { "no/new.txt", "ERROR: Can't Save Txt File" } }) {
        SCOPED_TRACE(name ? name : "Cancel");
        EXPECT_EQ(run(Form1->FileSave, name), message);
        EXPECT_EQ(state() + folder.sh("ls"), before) << "no file made";
    }
    EXPECT_EQ(run(Form1->FileSave, "saved.txt"), "");
    EXPECT_EQ(folder.sh("cat saved.txt"), fileOf({})) << "start-up's settings: the worked example";
    EXPECT_EQ(state(),
        "COM1 19200 080 COM2 9600 080 COM1 19200 " + saved + " 111000 " + fileOf({}).substr(36, 256));
    folder.write("opened.txt", fileOf({}));
    EXPECT_EQ(run(Form1->FileOpen, "opened.txt"), "");
    EXPECT_EQ(run(Form1->FileSave, "opened.txt"), "") << "no question before replacing a file";
    EXPECT_EQ(offered, folder.path + "/opened.txt");
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
