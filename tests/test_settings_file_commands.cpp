// Open and Save of settings files from the real main window, against real files, and Open's
// effect on a receive test running over a pseudo-terminal.
#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/registry/PortRegistry.h"
#include "platform/toolkit/FileDialog.h"
#include "serial/SettingsFile.h"
#include "support/FolderContents.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Bytes = std::string;

// The defaults saved before any file was loaded, laid out by hand.
Bytes workedExample()
{
    Bytes file = "Velmora RS232 Interface Debug Tools";
    file += '\0';
    file += Bytes("\x00\x00\x08\x00\x00\x4B\x00\x00", 8);
    file += Bytes(248, '\0');
    file += "COM1";
    return file;
}

// The state a command may change: what the settings dialog holds, the block and the file name.
struct Snapshot {
    std::string curPort, newPort;
    double curBaud, newBaud;
    uint8_t curParity, newParity, curSize, newSize, curStop, newStop;
    std::vector<uint8_t> block;
    std::string lastFileName;
    std::vector<std::string> comboTexts;

    static Snapshot take()
    {
        const TForm23& d = *Form23;
        return { d.CurPortName, d.NewPortName, d.CurBaudRate, d.NewBaudRate, d.CurParity, d.NewParity,
            d.CurByteSize, d.NewByteSize, d.CurStopBits, d.NewStopBits,
            std::vector<uint8_t>(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer)),
            Form1->LastFileName,
            { d.COMPort_ComboBox->currentText().toStdString(),
                d.BaudRate_ComboBox->currentText().toStdString(),
                d.ParityCheck_ComboBox->currentText().toStdString(),
                d.DataBit_ComboBox->currentText().toStdString(),
                d.StopBit_ComboBox->currentText().toStdString() } };
    }
    bool operator==(const Snapshot&) const = default;
};

struct ShownDialog {
    platform::FileDialog::Mode mode;
    std::string title, filter, suffix, initialDir, fileName;
};

class SettingsFileCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "comtest-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        platform::FileDialog::setChooser([this](const platform::FileDialog& dialog) {
            shown.push_back({ dialog.mode(), dialog.title(), dialog.filter(), dialog.defaultSuffix(),
                dialog.InitialDir, dialog.FileName });
            if (answers.empty()) {
                ADD_FAILURE() << "a file dialog nobody expected: " << dialog.title();
                return std::optional<std::string>();
            }
            const auto answer = answers.front();
            answers.pop_front();
            return answer;
        });
        Form23->ResetToDefaults();
        std::fill(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer), 0);
        Form1->LastFileName.clear();
    }

    void TearDown() override
    {
        Form1->TXRXStop_ButtonClick(nullptr);
        Form1->RXStart_Button->setEnabled(true);
        Form1->TXStart_Timer->setEnabled(false);
        platform::FileDialog::setChooser(nullptr);
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(folder);
    }

    std::string pathOf(const std::string& name) const { return (fs::path(folder) / name).string(); }

    std::string writeFile(const std::string& name, const Bytes& contents) const
    {
        const std::string path = pathOf(name);
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    static Bytes contentsOf(const std::string& path) { return fileContents(path); }
    std::vector<std::string> namesInFolder() const { return sortedNamesIn(folder); }

    // Runs a command with the dialog answered by answer; returns the message boxes it showed.
    std::vector<SeenBox> run(void (TForm1::*command)(QObject*), std::optional<std::string> answer)
    {
        answers.push_back(std::move(answer));
        MessageBoxWatcher boxes;
        (Form1->*command)(nullptr);
        EXPECT_TRUE(answers.empty()) << "the file dialog was not shown";
        return boxes.seen();
    }
    std::vector<SeenBox> open(std::optional<std::string> answer)
    {
        return run(&TForm1::FileOpenClick, answer);
    }
    std::vector<SeenBox> save(std::optional<std::string> answer)
    {
        return run(&TForm1::FileSaveClick, answer);
    }

    static void setCommitted(const std::string& port, double baud, uint8_t parity, uint8_t size, uint8_t stop)
    {
        Form23->CurPortName = port;
        Form23->CurBaudRate = baud;
        Form23->CurParity = parity;
        Form23->CurByteSize = size;
        Form23->CurStopBits = stop;
    }

    std::string folder;
    std::deque<std::optional<std::string>> answers;
    std::vector<ShownDialog> shown;
};

void expectOneError(const std::vector<SeenBox>& boxes, const std::string& text)
{
    ASSERT_EQ(boxes.size(), 1u) << "expected the message \"" << text << "\"";
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[0].text, text);
}

bool receiveTestRunning()
{
    return Form1->PortOpen == 1 && platform::isPort(hComm) && Form1->RXStart_Timer->enabled()
        && !Form1->RXStart_Button->isEnabled();
}

// Starts "RX Start" on COM1 mapped to the pty, and shows that it takes in what the far end sends.
void startReceiveTest(PtyPair& pty)
{
    ASSERT_TRUE(pty.ok());
    platform::PortRegistry::instance().mapComPort(1, pty.slavePath());
    Form1->PortName = "COM1";
    MessageBoxWatcher boxes;
    Form1->RXStart_Button->click();
    ASSERT_TRUE(boxes.seen().empty()) << "opening the pty failed: " << boxes.seen().front().text;
    ASSERT_TRUE(receiveTestRunning());
    Form1->RX_Edit->clear();
    ASSERT_EQ(pty.write("A"), 1u);
    ASSERT_TRUE(waitUntil([] { return Form1->RX_Edit->text().startsWith("0x41"); }, 5s))
        << "the receive test showed nothing of what arrived";
}

// What a forked child saw of its own command: its message boxes and its state afterwards.
struct ChildOutcome {
    bool finished = false;
    std::string skipped; // why the child could not set itself up
    std::vector<std::string> boxes;
    std::string lastFileName;
    bool blockUnchanged = false;
};

// Runs a Save in a forked child set up by prepare (which returns "" or why it could not), so that
// privileges and limits change in the child only. The child carries on with its copy of the
// windows on this thread alone (Qt's pool threads, idle here, are not copied); one that gets stuck
// anyway is killed at the deadline and the test fails.
ChildOutcome saveInChild(const std::function<std::string()>& prepare, const std::function<void()>& save)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return {};
    const Snapshot before = Snapshot::take();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::ostringstream report;
        const std::string problem = prepare();
        if (!problem.empty()) {
            report << "skip\n" << problem << "\n";
        } else {
            MessageBoxWatcher boxes;
            save();
            report << "ran\n"
                   << Form1->LastFileName << "\n"
                   << (Snapshot::take().block == before.block) << "\n";
            for (const SeenBox& box : boxes.seen())
                report << box.caption << ": " << box.text << "\n";
        }
        const std::string text = report.str();
        [[maybe_unused]] const ssize_t sent = ::write(channel[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        pollfd entry { channel[0], POLLIN, 0 };
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || ::poll(&entry, 1, int(left.count())) <= 0)
            break;
        char chunk[512];
        const ssize_t got = ::read(channel[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, size_t(got));
    }
    ::close(channel[0]);
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ChildOutcome outcome;
    std::istringstream lines(text);
    std::string kind;
    std::getline(lines, kind);
    if (kind == "skip") {
        std::getline(lines, outcome.skipped);
    } else if (kind == "ran") {
        outcome.finished = true;
        std::string same;
        std::getline(lines, outcome.lastFileName);
        std::getline(lines, same);
        outcome.blockUnchanged = same == "1";
        for (std::string line; std::getline(lines, line);)
            outcome.boxes.push_back(line);
    }
    return outcome;
}

// Becomes the unprivileged user "nobody"; "" on success, else why not.
std::string becomeNobody()
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return "there is no user nobody";
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
        return "cannot drop to user nobody";
    return "";
}

} // namespace

TEST_F(SettingsFileCommands, SaveRightAfterStartUpWritesTheWorkedExampleByteForByte)
{
    const std::string path = pathOf("defaults.txt");
    EXPECT_TRUE(save(path).empty());
    const Bytes written = contentsOf(path);
    const Bytes expected = workedExample();
    ASSERT_EQ(written.size(), 296u);
    for (size_t offset = 0; offset < expected.size(); ++offset)
        EXPECT_EQ(uint8_t(written[offset]), uint8_t(expected[offset])) << "file byte at offset " << offset;
    EXPECT_EQ(Form1->LastFileName, path);
    EXPECT_EQ(Form1->FileBuffer[2], 8) << "the block keeps what was saved";
    EXPECT_EQ(Form1->FileBuffer[5], 0x4B);
}

TEST_F(SettingsFileCommands, SaveOffersTheLastFileInTheSaveDialog)
{
    save(pathOf("first.txt"));
    save(pathOf("second.txt"));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].mode, platform::FileDialog::Mode::Save);
    EXPECT_EQ(shown[0].title, "Save File");
    EXPECT_EQ(shown[0].filter, "Text Files(*.txt)");
    EXPECT_EQ(shown[0].suffix, "txt");
    EXPECT_EQ(shown[0].initialDir, "");
    EXPECT_EQ(shown[0].fileName, "");
    EXPECT_EQ(shown[1].initialDir, pathOf("first.txt"));
    EXPECT_EQ(shown[1].fileName, pathOf("first.txt"));
}

TEST_F(SettingsFileCommands, OpenShowsTheOpenDialogAndSaveThenProposesTheOpenedFile)
{
    const std::string path = writeFile("loaded.txt", workedExample());
    EXPECT_TRUE(open(path).empty());
    save(std::nullopt);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].mode, platform::FileDialog::Mode::Open);
    EXPECT_EQ(shown[0].title, "Open File");
    EXPECT_EQ(shown[0].filter, "Text Files(*.txt)");
    EXPECT_EQ(shown[0].suffix, "txt");
    EXPECT_EQ(shown[1].fileName, path);
    EXPECT_EQ(shown[1].initialDir, path);
}

TEST_F(SettingsFileCommands, CancelledDialogsChangeNothing)
{
    const Snapshot before = Snapshot::take();
    EXPECT_TRUE(open(std::nullopt).empty());
    EXPECT_TRUE(save(std::nullopt).empty());
    EXPECT_TRUE(Snapshot::take() == before);
    EXPECT_TRUE(namesInFolder().empty());
}

TEST_F(SettingsFileCommands, SaveThenOpenGivesBackTheSettingsAndTheUninterpretedBlockBytes)
{
    for (size_t i = 0; i < 256; ++i)
        Form1->FileBuffer[i] = static_cast<uint8_t>(0xFF - i);
    setCommitted("COM3", 115200.0, 2, 7, 2);
    const std::string path = pathOf("round.txt");
    ASSERT_TRUE(save(path).empty());

    Form23->ResetToDefaults();
    std::fill(std::begin(Form1->FileBuffer), std::end(Form1->FileBuffer), 0);
    Form1->LastFileName.clear();
    ASSERT_TRUE(open(path).empty());

    EXPECT_EQ(Form1->FileBuffer[0], 0xFF) << "block byte 0";
    for (size_t i = 8; i < 256; ++i)
        EXPECT_EQ(Form1->FileBuffer[i], uint8_t(0xFF - i)) << "block byte " << i;
    EXPECT_EQ(Form23->CurPortName, "COM3");
    EXPECT_EQ(Form23->CurBaudRate, 115200.0);
    EXPECT_EQ(Form23->CurParity, 2);
    EXPECT_EQ(Form23->CurByteSize, 7);
    EXPECT_EQ(Form23->CurStopBits, 2);
    EXPECT_EQ(Form23->NewPortName, "COM3");
    EXPECT_EQ(Form23->NewBaudRate, 115200.0);
    EXPECT_EQ(Form23->NewParity, 2);
    EXPECT_EQ(Form23->NewByteSize, 7);
    EXPECT_EQ(Form23->NewStopBits, 2);
    EXPECT_EQ(Form23->COMPort_ComboBox->currentText(), "COM3") << "the dialog shows the loaded port";
    EXPECT_EQ(Form23->BaudRate_ComboBox->currentText(), "115200");
    EXPECT_EQ(Form1->LastFileName, path);
}

TEST_F(SettingsFileCommands, SaveWritesTheCommittedSettingsNotThePendingOnes)
{
    Form23->NewPortName = "COM2";
    Form23->NewBaudRate = 9600.0;
    Form23->NewByteSize = 7;
    const std::string path = pathOf("committed.txt");
    ASSERT_TRUE(save(path).empty());
    EXPECT_EQ(contentsOf(path), workedExample());
}

TEST_F(SettingsFileCommands, OpenLeavesTheMainWindowsLineSettingsAlone)
{
    Bytes file = workedExample();
    file.replace(292, 4, "COM2");
    const std::string path = writeFile("com2.txt", file);
    ASSERT_TRUE(open(path).empty());
    EXPECT_EQ(Form23->CurPortName, "COM2");
    EXPECT_EQ(Form1->PortName, "COM1");
    EXPECT_EQ(Form1->BaudRate, 19200.0);
}

TEST_F(SettingsFileCommands, HeaderVariantsAreNoSettingsFileAndChangeNothing)
{
    Bytes lowerCase = workedExample();
    lowerCase[0] = 'v';
    Bytes noZero = workedExample();
    noZero[35] = ' ';
    const std::vector<std::pair<std::string, Bytes>> variants { { "letter case", lowerCase },
        { "no zero byte", noZero }, { "empty", "" },
        { "shorter than the header", workedExample().substr(0, 35) },
        { "header without its zero", workedExample().substr(0, 30) } };
    const Snapshot before = Snapshot::take();
    for (const auto& [what, contents] : variants) {
        const std::string path = writeFile("variant.txt", contents);
        expectOneError(open(path), "Txt File Format Not Match");
        EXPECT_TRUE(Snapshot::take() == before) << what << ": state changed";
    }
}

TEST_F(SettingsFileCommands, FileEndingInsideTheBlockIsNoSettingsFileAndChangesNothing)
{
    Bytes changed = workedExample();
    changed[38] = 7;
    changed.replace(292, 4, "COM2");
    const Snapshot before = Snapshot::take();
    for (size_t length : { 36u, 200u, 292u, 295u }) {
        const std::string path = writeFile("short.txt", changed.substr(0, length));
        expectOneError(open(path), "Txt File Format Not Match");
        EXPECT_TRUE(Snapshot::take() == before) << length << " bytes: state changed";
    }
}

TEST_F(SettingsFileCommands, BytesPastTheEndOfTheFileLayoutAreIgnored)
{
    const std::string path = writeFile("long.txt", workedExample() + "trailing bytes");
    ASSERT_TRUE(open(path).empty());
    EXPECT_EQ(Form23->CurPortName, "COM1");
    EXPECT_EQ(Form1->LastFileName, path);
}

TEST_F(SettingsFileCommands, PortNameEndsAtTheFirstZeroByteOfItsField)
{
    Bytes file = workedExample();
    file.replace(292, 4, Bytes("CO\0\0", 4));
    ASSERT_TRUE(open(writeFile("co.txt", file)).empty());
    EXPECT_EQ(Form23->CurPortName, "CO");
    EXPECT_EQ(Form23->NewPortName, "CO");
}

TEST_F(SettingsFileCommands, FourNonZeroPortNameBytesAreTakenWhole)
{
    Bytes file = workedExample();
    file.replace(292, 4, "XY12");
    ASSERT_TRUE(open(writeFile("xy.txt", file)).empty());
    EXPECT_EQ(Form23->CurPortName, "XY12");
    EXPECT_EQ(Form23->NewPortName, "XY12");
}

TEST_F(SettingsFileCommands, ValuesOffTheDialogsListsAreTakenAsTheyStand)
{
    Bytes file = workedExample();
    file[38] = 9; // 9 data bits
    file[40] = '\x58'; // 600 baud = 0x0258
    file[41] = '\x02';
    ASSERT_TRUE(open(writeFile("odd.txt", file)).empty());
    EXPECT_EQ(Form23->CurBaudRate, 600.0);
    EXPECT_EQ(Form23->NewBaudRate, 600.0);
    EXPECT_EQ(Form23->CurByteSize, 9);
    EXPECT_EQ(Form23->NewByteSize, 9);
}

TEST_F(SettingsFileCommands, OpenOfAMissingFileAFolderOrAFifoCannotOpenAndChangesNothing)
{
    const std::string fifo = pathOf("pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(pathOf("folder.txt"));
    const Snapshot before = Snapshot::take();
    for (const std::string& path : { pathOf("missing.txt"), pathOf("folder.txt"), fifo }) {
        const auto start = std::chrono::steady_clock::now();
        expectOneError(open(path), "Can't Open Txt File");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << path << " kept the command waiting";
        EXPECT_TRUE(Snapshot::take() == before) << path << ": state changed";
    }
}

TEST_F(SettingsFileCommands, OpenDuringAReceiveTestStopsIt)
{
    PtyPair pty;
    startReceiveTest(pty);
    const std::string path = writeFile("stop.txt", workedExample());
    ASSERT_TRUE(open(path).empty());
    EXPECT_EQ(Form1->PortOpen, 0);
    EXPECT_FALSE(platform::isPort(hComm)) << "the port is closed";
    EXPECT_FALSE(Form1->PCTest_Timer->enabled());
    EXPECT_FALSE(Form1->RXStart_Timer->enabled());
    EXPECT_FALSE(Form1->TXStart_Timer->enabled());
    EXPECT_TRUE(Form1->RXStart_Button->isEnabled()) << "RX Start can be pressed again";
}

TEST_F(SettingsFileCommands, CancelledOrFailedOpenLeavesTheReceiveTestRunning)
{
    PtyPair pty;
    startReceiveTest(pty);
    EXPECT_TRUE(open(std::nullopt).empty());
    EXPECT_TRUE(receiveTestRunning()) << "after a cancelled Open";
    expectOneError(open(pathOf("missing.txt")), "Can't Open Txt File");
    EXPECT_TRUE(receiveTestRunning()) << "after a file that cannot be opened";
    expectOneError(open(writeFile("bad.txt", "not a settings file")), "Txt File Format Not Match");
    EXPECT_TRUE(receiveTestRunning()) << "after a file of another format";
    expectOneError(open(writeFile("cut.txt", workedExample().substr(0, 100))), "Txt File Format Not Match");
    EXPECT_TRUE(receiveTestRunning()) << "after a file cut short";
    Form1->RX_Edit->clear();
    ASSERT_EQ(pty.write("B"), 1u);
    EXPECT_TRUE(waitUntil([] { return Form1->RX_Edit->text().startsWith("0x42"); }, 5s))
        << "the receive test still takes in bytes";
}

TEST_F(SettingsFileCommands, OpenWithNoTestRunningLeavesTimersAndButtonAsTheyAre)
{
    ASSERT_EQ(Form1->PortOpen, 0);
    Form1->RXStart_Button->setEnabled(false);
    Form1->TXStart_Timer->setEnabled(true);
    ASSERT_TRUE(open(writeFile("idle.txt", workedExample())).empty());
    EXPECT_FALSE(Form1->RXStart_Button->isEnabled());
    EXPECT_TRUE(Form1->TXStart_Timer->enabled());
}

TEST_F(SettingsFileCommands, SaveLeavesARunningReceiveTestAlone)
{
    PtyPair pty;
    startReceiveTest(pty);
    ASSERT_TRUE(save(pathOf("during.txt")).empty());
    EXPECT_TRUE(receiveTestRunning());
}

TEST_F(SettingsFileCommands, SaveToAFolderCannotSaveAndChangesNothing)
{
    fs::create_directory(pathOf("folder.txt"));
    const Snapshot before = Snapshot::take();
    expectOneError(save(pathOf("folder.txt")), "Can't Save Txt File");
    EXPECT_TRUE(Snapshot::take() == before);
    EXPECT_TRUE(fs::is_directory(pathOf("folder.txt")));
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "folder.txt" }) << "no temporary file left";
}

TEST_F(SettingsFileCommands, SaveOverAReadOnlyFileCannotSaveAndLeavesItWhole)
{
    const Bytes old(400, 'o');
    const std::string path = writeFile("readonly.txt", old);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0) << "the folder itself lets anyone make files";
    const std::string lastBefore = Form1->LastFileName;
    const ChildOutcome outcome = saveInChild(becomeNobody, [&] {
        answers.push_back(path);
        Form1->FileSaveClick(nullptr);
    });
    if (!outcome.skipped.empty())
        GTEST_SKIP() << outcome.skipped;
    ASSERT_TRUE(outcome.finished) << "the child did not finish";
    EXPECT_EQ(outcome.boxes, std::vector<std::string> { "ERROR: Can't Save Txt File" });
    EXPECT_EQ(contentsOf(path), old) << "the old file is whole";
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "readonly.txt" }) << "no temporary file left";
    EXPECT_EQ(outcome.lastFileName, lastBefore);
    EXPECT_TRUE(outcome.blockUnchanged);
}

TEST_F(SettingsFileCommands, SaveOfAWritableFileInAFolderWeMayNotWriteWritesItInPlace)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "there is no user nobody";
    const std::string path = writeFile("shared.txt", Bytes(400, 'o'));
    ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0) << "only its owner may make files in the folder";
    const ChildOutcome outcome = saveInChild(becomeNobody, [&] {
        answers.push_back(path);
        Form1->FileSaveClick(nullptr);
    });
    if (!outcome.skipped.empty())
        GTEST_SKIP() << outcome.skipped;
    ASSERT_TRUE(outcome.finished) << "the child did not finish";
    EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes.front();
    EXPECT_EQ(contentsOf(path), workedExample()) << "exactly the 296 new bytes";
    struct stat status { };
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(status.st_uid, nobody->pw_uid);
    EXPECT_EQ(outcome.lastFileName, path);
    EXPECT_FALSE(outcome.blockUnchanged) << "the block keeps what was saved";
}

TEST_F(SettingsFileCommands, SaveToAFullDiskCannotSaveAndLeavesTheOldFileWhole)
{
    const Bytes old(400, 'o');
    const std::string path = writeFile("full.txt", old);
    const std::string lastBefore = Form1->LastFileName;
    // A file size limit below the file's size makes every write past it fail as a full disk does.
    const auto fillTheDisk = [] {
        const rlimit limit { 100, 100 };
        if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return std::string("cannot limit the file size");
        return std::string();
    };
    for (const std::string& target : { path, pathOf("new.txt") }) {
        const ChildOutcome outcome = saveInChild(fillTheDisk, [&] {
            answers.push_back(target);
            Form1->FileSaveClick(nullptr);
        });
        if (!outcome.skipped.empty())
            GTEST_SKIP() << outcome.skipped;
        ASSERT_TRUE(outcome.finished) << "the child did not finish";
        EXPECT_EQ(outcome.boxes, std::vector<std::string> { "ERROR: Can't Save Txt File" }) << target;
        EXPECT_EQ(outcome.lastFileName, lastBefore);
        EXPECT_TRUE(outcome.blockUnchanged);
    }
    EXPECT_EQ(contentsOf(path), old) << "the old file is whole";
    EXPECT_EQ(namesInFolder(), std::vector<std::string> { "full.txt" }) << "no new or temporary file left";
}

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
