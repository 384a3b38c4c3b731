// File>Open and File>Save in the real main window and file dialogs, while a receive test runs.
#include "platform/registry/PortRegistry.h"
#include "serial/SettingsFile.h"
#include "support/FolderContents.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

#include <sstream>

const auto fileOf = [](const platform::LineSettings& s) {
    return std::string((char*)settings_file::encode(s, {}).data(), 296);
};

// All Open and Save may change: the dialog's settings and controls, the last file, the tests, the block.
const auto state = [] {
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
};

TEST(SettingsFileWindow, OpenAndSave)
{
    PtyPair pty;
    Folder folder;
    platform::PortRegistry::instance().mapComPort(1, pty.slavePath());
    Form1->RXStart_Button->click(); // Save leaves the receive test running, Open ends it
    std::string offered; // by the last file dialog: its title, filter, suffix and file
    // Runs File>Open or File>Save, the dialog answered with name (nullptr: Cancel); gives the messages.
    const auto run = [&](QAction* command, const char* name) {
        QTimer person;
        QObject::connect(&person, &QTimer::timeout, [&] {
            if (QFileDialog* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                offered = (dialog->windowTitle() + " " + dialog->nameFilters().join(";") + " ."
                    + dialog->defaultSuffix() + " " + dialog->selectedFiles().value(0))
                              .toStdString();
                const QString path = (folder.path + "/").c_str() + QString(name);
                dialog->selectFile(path); // clears the list's selection
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path); // even where it has the focus
                name ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
            }
        });
        person.start(5);
        MessageBoxWatcher boxes;
        command->trigger();
        const std::vector<SeenBox>& seen = boxes.seen(); // one at most
        return seen.empty() ? "" : seen[0].caption + ": " + seen[0].text + std::string(seen.size() - 1, '+');
    };
    const std::string good = fileOf({ 115200, 2, 7, 2, "COM3" });
    std::ofstream(folder.path + "/good.txt") << good;
    std::ofstream(folder.path + "/short.txt") << good.substr(0, 295);
    Form23->RefreshControls(); // builds them
    Form23->NewPortName = "COM2"; // pending only
    Form23->NewBaudRate = 9600;
    const std::string before = state() + folder.sh("ls");
    const std::tuple<QAction*, const char*, std::string> failures[] { { Form1->FileSave, nullptr, "" },
        { Form1->FileSave, "no/new.txt", "ERROR: Can't Save Txt File" }, { Form1->FileOpen, nullptr, "" },
        { Form1->FileOpen, "missing.txt", "ERROR: Can't Open Txt File" },
        { Form1->FileOpen, "short.txt", "ERROR: Txt File Format Not Match" } };
    for (const auto& [command, name, message] : failures) {
        SCOPED_TRACE(command->text().toStdString() + (name ? name : " Cancel"));
        EXPECT_EQ(run(command, name), message);
        EXPECT_EQ(state() + folder.sh("ls"), before) << "a failure or Cancel changes nothing, makes no file";
    }
    EXPECT_EQ(run(Form1->FileSave, "saved.txt"), "");
    EXPECT_EQ(folder.sh("cat saved.txt"), fileOf({})) << "start-up's settings";
    EXPECT_EQ(state(),
        "COM1 19200 080 COM2 9600 080 COM1 19200 " + folder.path + "/saved.txt 111000 "
            + fileOf({}).substr(36, 256));
    // A good file goes to the dialog (not to the main window's line) with its block, and ends the tests.
    Form1->PCTest_Timer->setEnabled(true);
    Form1->TXStart_Timer->setEnabled(true);
    EXPECT_EQ(run(Form1->FileOpen, "good.txt"), "");
    EXPECT_EQ(state(),
        "COM3 115200 272 COM3 115200 272 COM3 115200 " + folder.path + "/good.txt 000100 "
            + good.substr(36, 256));
    // The next Save offers the file opened and replaces it without asking.
    EXPECT_EQ(run(Form1->FileSave, "good.txt"), "");
    EXPECT_EQ(offered, "Save File Text Files(*.txt) .txt " + folder.path + "/good.txt");
    Form23->CurPortName = "COM10"; // four bytes would hold "COM1", another port
    EXPECT_EQ(run(Form1->FileSave, "good.txt"), "ERROR: Can't Save Txt File");
    EXPECT_EQ(folder.sh("cat good.txt"), good) << "the old file whole";
}
