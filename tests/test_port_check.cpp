// "Serial Port Test" from the main window: tries the settings dialog's committed port over real
// pseudo-terminals, one free, one held by this program's receive test, one held by another process,
// and a device that does not exist.
#include "app/Main.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/registry/PortRegistry.h"
#include "platform/tty/SerialPort.h"
#include "support/HolderProcess.h"
#include "support/PtyPair.h"
#include "support/WindowHarness.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string kPassed = "通訊埠測試正常";
const std::string kOpenError = "開啟通訊埠錯誤!!";

// Whether the device can be taken exclusively now (it is released again at once).
bool canTake(const std::string& device)
{
    const platform::OpenResult result = platform::openDeviceExclusive(device);
    platform::closePort(result.handle);
    return platform::isPort(result.handle);
}

// Runs the check from the menu; inspect runs while its box is up, then the box's OK is pressed.
std::vector<SeenBox> runCheck(const std::function<void()>& inspect = [] {})
{
    MessageBoxWatcher watcher(false);
    bool inspected = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QMessageBox* box = visibleMessageBox();
        if (!box || watcher.seen().empty())
            return;
        poll.stop();
        inspect();
        inspected = true;
        box->button(QMessageBox::Ok)->click();
    });
    poll.start();
    Form1->SerialPortTest->trigger();
    EXPECT_TRUE(inspected) << "the check returned only after its box was dismissed";
    return watcher.seen();
}

class PortCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        platform::PortRegistry::instance().mapComPort(1, pty.slavePath());
        Form23->ResetToDefaults();
    }
    void TearDown() override
    {
        Form23->ResetToDefaults();
        platform::PortRegistry::instance().reset();
    }
    PtyPair pty;
};

TEST_F(PortCheck, FreePortGivesOkAndIsHeldOnlyWhileTheBoxIsUp)
{
    bool heldMeanwhile = false;
    const auto seen = runCheck([&] { heldMeanwhile = !canTake(pty.slavePath()); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "OK");
    EXPECT_EQ(seen[0].text, kPassed);
    EXPECT_TRUE(heldMeanwhile) << "another open fails while the box is up";
    EXPECT_TRUE(canTake(pty.slavePath())) << "free again once the box is dismissed";
}

TEST_F(PortCheck, LeavesTheLineSettingsWaitingInputAndTheMainWindowsPortAlone)
{
    const platform::OpenResult setUp = platform::openDeviceExclusive(pty.slavePath());
    ASSERT_TRUE(platform::isPort(setUp.handle));
    ASSERT_TRUE(platform::applyLineSettings(setUp.handle, { 1200, 0, 8, 2 }));
    platform::closePort(setUp.handle);

    Form23->CurBaudRate = 115200.0; // committed settings are not applied by the check
    const platform::PortHandle before = hComm;
    ASSERT_EQ(pty.write("unread"), 6u);
    int waiting = 0;
    ASSERT_TRUE(
        PtyPair::waitUntil([&] { return ioctl(pty.slaveFd(), FIONREAD, &waiting) == 0 && waiting == 6; }));
    const auto seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "OK");
    platform::LineBits line;
    ASSERT_TRUE(pty.slaveLine(line));
    EXPECT_EQ(platform::outputSpeed(line), 1200u) << "the check does not configure the line";
    EXPECT_EQ(platform::describeLine(line).stopBits, 2);
    EXPECT_EQ(ioctl(pty.slaveFd(), FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 6) << "the check only tried the open; the waiting bytes are not its to take";
    EXPECT_EQ(hComm, before);
    EXPECT_EQ(Form1->PortOpen, 0);
}

TEST_F(PortCheck, TriesTheDialogsCommittedPortNotTheMainWindowsPortName)
{
    platform::PortRegistry::instance().mapComPort(2, pty.slavePath());
    platform::PortRegistry::instance().mapComPort(1, "/dev/comtest-no-such-device");
    Form23->CurPortName = "COM2"; // as a settings file sets it, leaving Form1->PortName at COM1
    ASSERT_EQ(Form1->PortName, "COM1");
    const auto seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "OK");
    EXPECT_EQ(seen[0].text, kPassed);
}

TEST_F(PortCheck, PortHeldByARunningReceiveTestFailsAndTheTestKeepsIt)
{
    {
        MessageBoxWatcher openErrors;
        Form1->RXStart_Button->click();
        ASSERT_TRUE(openErrors.seen().empty()) << "the receive test opened the port";
    }
    ASSERT_TRUE(platform::isPort(hComm)) << "the receive test holds the port";
    const platform::PortHandle testsPort = hComm;

    const auto seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "ERROR");
    EXPECT_EQ(seen[0].text, kOpenError);
    EXPECT_EQ(hComm, testsPort);
    EXPECT_EQ(Form1->PortOpen, 1);

    pty.write("A");
    EXPECT_TRUE(waitUntil([] { return Form1->RX_Edit->text().contains("41"); }, 3s))
        << "the receive test still reads its port";

    Form1->RXStart_Timer->setEnabled(false);
    RS232Port.ClosePort();
    Form1->RXStart_Button->setEnabled(true);
    Form1->RX_Edit->clear();
}

TEST_F(PortCheck, PortHeldByAnotherProcessFails)
{
    HolderProcess other(pty.slavePath());
    ASSERT_TRUE(other.holding());
    auto seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "ERROR");
    EXPECT_EQ(seen[0].text, kOpenError);

    other.release();
    seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "OK") << "once the other process let go";
}

TEST_F(PortCheck, MissingDeviceAndEmptyNameFail)
{
    platform::PortRegistry::instance().mapComPort(1, "/dev/comtest-no-such-device");
    auto seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "ERROR");
    EXPECT_EQ(seen[0].text, kOpenError);

    Form23->CurPortName.clear();
    seen = runCheck();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "ERROR");
    EXPECT_EQ(seen[0].text, kOpenError);
}

} // namespace

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}
