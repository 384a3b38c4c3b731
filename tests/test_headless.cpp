// The commands without a window, run as main() runs them over ptys, and the device inventory.
#include "platform/discovery/DeviceInventory.h"
#include "platform/discovery/LockFiles.h"
#include "platform/discovery/PortHolders.h"
#include "serial/HexText.h"
#include "support/FakeUart.h"
#include "support/FolderContents.h"
#include "support/HolderProcess.h"
#include "support/ParseArguments.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <future>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>

// A cell with its names replaced ("¶" among them); "hex:" marks bytes written in hex.
std::string expand(std::string cell, const std::map<std::string, std::string>& names = {})
{
    for (const auto& [name, value] : names)
        for (size_t at; (at = cell.find(name)) != std::string::npos;)
            cell.replace(at, name.size(), value);
    return cell.starts_with("hex:") ? parseHexBytes(cell.substr(4)).value_or("?") : cell;
}

TEST(Commands, SayWhatTheyFoundAndExitWithIt)
{
    PtyPair exclusive;
    HolderProcess excluder(exclusive.slavePath(), HolderProcess::Way::Exclusive);
    PtyPair flocked; // and its holder has the other pty open too, by birth
    HolderProcess flocker(flocked.slavePath());
    Folder folder;
    writeSettingsFile(folder.path + "/" + "e72", "COM9", 9600, 2, 7, 2);
    writeSettingsFile(folder.path + "/" + "1.5", "COM1", 9600, 2, 7, 1); // a pty's forced bits not counted
    writeSettingsFile(folder.path + "/" + "4800", "COM2", 4800, 0, 8, 0);
    writeSettingsFile(folder.path + "/" + "0", "COM1", 0, 0, 8, 0);
    // words | bytes on the wire | reply | exit status | what it prints, blanks squeezed. "$": the pty
    // (COM1, 2, 7); "@": one "#" holds with flock (COM3); "^": one "*" opened exclusively (COM5); "…":
    // 200 bytes. "~": ptys are UARTs with a loop-back plug; "≈": no cable, error counters rising.
    for (const auto& row : rowsOf(R"(
--check COM1 |  |  | 0 | COM1 ($): free¶
!--check COM1 |  |  | 0 | COM1 ($): free (also open by PID & (test_headless))¶
--port COM1=/dev/console --check COM1 |  |  | 1 | COM1 (/dev/console): busy: system console¶
!--check COM3 |  |  | 1 | ): busy: held by PID # (test_headless), flock¶
--check COM5 |  |  | 1 | ): busy: exclusive open by one of PID * (test_headless), PID # (test_headless)¶
--port COM1=/dev/nope --check COM1 |  |  | 1 | COM1 (/dev/nope): missing: no device /dev/nope¶
--check COM200 |  |  | 1 | COM200 (/dev/ttyS199): missing: no device /dev/ttyS199¶
--stress --to COM2 |  |  | 2 | comtest: --to COM2 is the same device as COM1 ($)¶
--port COM1=/etc/hostname --check COM1 |  |  | 1 | ): not a tty: /etc/hostname is no terminal device¶
--port COM1=/etc/hostname --port COM2=/etc/passwd --stress --to COM2 |  |  | 3 | ): not a tty: /etc/hostname is no terminal device¶
--check COM1 --settings %e72 |  |  | 0 | ¶asked: 9600 baud, 7 data bits, parity Even, stop bits 2¶driver has: 9600 baud, 8 data bits, parity None, stop bits 2 (a
--check COM1 --settings %1.5 |  |  | 1 | ¶settings refused: the driver did not take the stop bits¶
--check COM1 --settings %none |  |  | 2 | comtest: --settings %none: cannot be read (missing, not a
--check COM1 --settings /etc/hostname |  |  | 2 | comtest: --settings /etc/hostname: not a comtest settings
--send hi --expect yo | hi | yo | 0 | COM1 ($): sent 2 bytes, waited 500 ms¶received 2 bytes¶text: yo¶
--send hi | hi | … | 0 | ¶discarded 200 bytes (more than 128 were waiting)¶received 0 bytes¶text: ¶hex: ¶
--send hi --expect yo | hi | oy | 1 | ¶text: oy¶hex: 6F 79¶reply does not match: expected 2 bytes: 79 6F¶
--hex --send 41 | hex:41 | hex:0d0a095c017f0007 | 0 | ¶text: \r\n\t\\\x01\x7F¶hex: 0D 0A 09 5C 01 7F 00 07¶
--send hi --wait 9000 | hi |  | 3 | ¶received 0 bytes¶text: ¶hex: ¶carrier lost (hang-up)¶
--send hi --expect yo --wait 9000 | hi |  | 3 | : expected 2 bytes: 79 6F¶port vanished¶
--settings %4800 --send abc | abc |  | 0 | COM2 ($): sent 3 bytes
--settings %4800 --com COM7 --send q --wait 0 | q |  | 0 | COM7 ($): sent 1 bytes, waited 0 ms¶
!--loopback --hex --send 4142 --expect 41,42 |  |  | 0 | ¶text: AB¶hex: 41 42¶reply matches¶
!--port COM1=/dev/nope --send x |  |  | 3 | comtest: 開啟通訊埠錯誤!! COM1 (/dev/nope): missing: no device
--loopback --settings %0 --send x |  |  | 3 | refused (0 baud, 8 data bits, parity None, stop bits 1)¶
--selftest --internal |  |  | 3 | COM1 ($): loop mode not offered by its driver¶
~--loopback --selftest |  |  | 0 | PASS¶RTS->CTS PASS¶DTR->DSR PASS¶DTR->DCD PASS¶400 of 400 rows passed¶
~--loopback --selftest --internal |  |  | 0 | ¶RTS->CTS PASS¶DTR->DSR PASS¶OUT2->DCD PASS¶400 of 400 rows passed¶
≈--loopback --selftest |  |  | 1 | PASS¶RTS->CTS FAIL the input did not follow the output¶DTR->DSR FAIL the input did not follow the output¶DTR->DCD FAIL the input did not follow the output¶400 of 400 rows passed, 3 modem line loops failed¶
~--lines --rts off --dtr on |  |  | 0 | ¶RTS off, DTR on (as set here; a setting holds only while the port is open)¶CTS off, DSR on, DCD on, RI off¶
~--loopback --stress --internal --bytes 2000 |  |  | 0 | loop mode¶line: 19200 baud, 8 data bits, parity None, stop bits 1 (10 bits a character: 1920 bytes/s)¶sending ended: the bytes were sent¶COM1 -> COM1: sent 2000, received 2000, verified 2000, lost 0, corrupted 0, extra 0, first error at -; 
≈--loopback --stress --bytes 2000 |  |  | 1 | ¶error counters of COM1 over the run: frame 1, parity 2, overrun 3, break 4, buffer overrun 5¶FAIL: 
--stress --internal |  |  | 3 | COM1 ($): loop mode not offered by its driver¶
--loopback --selftest |  |  | 0 | DTR->DCD not available (the driver has no modem lines)¶400 of 400 rows
--selftest | hex:150a001f0f101a05 |  | 3 | RESULT¶ 110 None 5 1 FAIL nothing came back¶port vanished¶
!--bogus |  |  | 2 | comtest: unknown option: --bogus¶Usage: comtest
--list-ports |  |  | 0 | ¶@ COM3 pty - - by # (test_headless) # (test_headless) -¶
--list-ports --json |  |  | 0 | {"device":"@","com":"COM3","driver":"pty","usb_id":null,"serial":null,"by_id":null,"held":true,"holder":#,"open_by":[#],"open_by_unseen":false,"terminal":null,"no_uart":false}
--list-ports --json |  |  | 0 | "com":"COM5","driver":"pty","usb_id":null,"serial":null,"by_id":null,"held":false,"holder":null,"open_by":[*,#],"open_by_unseen":false,"terminal":null,"no_uart":false}]
--send hi --json | hi | hex:ff | 0 | "reply_text":"�"
!--version |  |  | 0 | comtest 0.00.01¶
!--help |  |  | 0 | Usage: comtest)")) {
        PtyPair pty;
        fakeUart = { row[0][0] == '~'     ? FakeUart::Wiring::Plug
                : row[0].starts_with("≈") ? FakeUart::Wiring::Noisy
                                          : FakeUart::Wiring::Off };
        const std::map<std::string, std::string> names { { "~", "" }, { "≈", "" }, { "$", pty.slavePath() },
            { "%", folder.path + "/" }, { "@", flocked.slavePath() }, { "#", std::to_string(flocker.pid()) },
            { "&", std::to_string(getpid()) }, { "¶", "\n" }, { "^", exclusive.slavePath() },
            { "*", std::to_string(excluder.pid()) }, { "…", std::string(200, '.') } };
        auto done = std::async(std::launch::async, runWords,
            expand("--port COM1=$ --port COM2=$ --port COM7=$ --port COM3=@ --port COM5=^ " + row[0], names));
        EXPECT_EQ(pty.read(expand(row[1]).size(), std::chrono::seconds(5)), expand(row[1])) << row[0];
        pty.write(expand(row[2], names));
        if (row[3] == "3" && !row[1].empty()) // unplugged, or hung up
            row[4].ends_with("vanished¶") ? pty.closeMaster() : void(ioctl(pty.slaveFd(), TIOCVHANGUP));
        const auto [status, out] = done.get();
        EXPECT_EQ(status, std::stoi(row[3])) << row[0] << "\n" << out;
        const std::string squeezed = std::regex_replace(out, std::regex(" +"), " ");
        EXPECT_NE(squeezed.find(expand(row[4], names)), std::string::npos) << row[0] << "\n" << out;
        EXPECT_EQ(row[3] == "3" && !row[1].empty() ? "" : pty.locksLeft(), "")
            << row[0] << ": left on the port";
        EXPECT_EQ(fakeUart.outputs & 0x8000, 0) << row[0] << ": left in loop mode";
    }
}

// The kernel keeps TIOCEXCL while anyone else has the tty open: here the test keeps its slave open.
TEST(Commands, LeaveNothingOfTheirsOnThePortWhenASignalEndsThem)
{
    const rlimit noCoreFile {}; // SIGQUIT's own action would leave one
    setrlimit(RLIMIT_CORE, &noCoreFile);
    for (const int signal : { SIGTERM, SIGINT, SIGHUP, SIGQUIT }) {
        PtyPair pty;
        auto done = std::async(
            std::launch::async, runProgram, "--port COM1=" + pty.slavePath() + " --send x --wait 20000");
        EXPECT_EQ(pty.read(1, std::chrono::seconds(10)), "x") << "sent once the port is held";
        kill(platform::liveLockHolder(pty.slavePath()).value_or(INT_MAX), signal); // none: no such process
        EXPECT_EQ(done.get().first, 128 + signal) << "ended by the signal itself";
        EXPECT_EQ(pty.locksLeft(), "") << "left on the port after " << strsignal(signal);
    }
}

// A user who may not look into root's processes: what the node's mode lets that user do, and an
// opener seen only through its command line, which names the port.
TEST(Commands, TellAnotherUserWhatStandsInTheWay)
{
    Folder folder; // a copy of comtest that the user nobody may run, wherever the build lies
    folder.sh("cp \"$COMTEST_BINARY\" .");
    // the node's mode | what root's tail -f names | the command | what it says, squeezed ("$": the node)
    for (const auto& row : rowsOf(R"(
620 | /dev/null | --check COM1 | COM1 ($): permission denied¶
660 | /dev/null | --check COM1 | COM1 ($): permission denied: members of the group dialout may open it; to join it: sudo usermod -aG dialout nobody, then log in again¶
666 | /dev/null | --check COM1 | COM1 ($): free¶
666 | $ | --check COM1 | COM1 ($): free (also open by a process that cannot be seen from here)¶
666 | $ | --list-ports | ¶$ COM1 pty - - no a process not seen from here -¶)")) {
        PtyPair pty;
        const std::string node = pty.slavePath();
        const std::string named = expand(row[1], { { "$", node } });
        HolderProcess tail([&] { return execlp("tail", "tail", "-f", named.c_str(), nullptr) == 0; });
        ASSERT_TRUE(PtyPair::waitUntil([&] { return platform::processName(tail.pid()) == "tail"; }));
        const std::string out // without the leak checker's suppressions, which nobody may not be able to read
            = folder.sh("chown :dialout " + node + " && chmod " + row[0] + " " + node
                + " && LSAN_OPTIONS= setpriv --reuid=nobody --regid=nogroup --clear-groups ./comtest"
                + " --port COM1=" + node + " " + row[2] + " 2>&1");
        const std::string squeezed = std::regex_replace(out, std::regex(" +"), " ");
        EXPECT_NE(squeezed.find(expand(row[3], { { "$", node }, { "¶", "\n" } })), std::string::npos)
            << row[0] + " " + row[1] + "\n" + out;
        kill(tail.pid(), SIGKILL);
    }
}

TEST(SelfTest, FailsTheRowThatCameBackWrong)
{
    PtyPair pty;
    std::jthread echo([&](std::stop_token stop) { // flips a bit of the 138th pattern's fourth byte
        for (size_t seen = 0; !stop.stop_requested();)
            for (const char c : pty.read(1, std::chrono::milliseconds(20)))
                pty.write(std::string(1, char(c ^ (seen++ == 137 * 8 + 3))));
    });
    const auto [status, out] = runWords("--port COM4=" + pty.slavePath() + " --selftest --com COM4");
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("\n399 of 400 rows passed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  2400  Even       5     2  FAIL  sent 15 0A 00 1F 0F 10 1A 05, got 15 0A 00 1E"),
        out.npos);
}

// One JSON document on stdout for every command, also for a port without what the command needs.
TEST(Commands, AnswerInJsonWithTheFactsOfTheirText)
{
    // words | exit status | a JSON pointer | its value in the document
    for (const auto& row : rowsOf(R"(
--check COM1 | 0 | /free | true
--send hi --expect hi | 0 | /matches | true
--selftest | 0 | /rows/399 | {"baud":115200,"data_bits":8,"parity":"Space","stop_bits":"2","passed":true,"detail":null}
--selftest | 0 | /modem_loops/2 | {"loop":"DTR->DCD","result":"not available"}
--stress --bytes 5000 | 0 | /directions/0/verified | 5000
--lines | 3 | /error | "modem lines not offered by its driver")")) {
        const auto [status, out] = runWords("--loopback --json " + row[0]);
        EXPECT_EQ(status, std::stoi(row[1])) << row[0] << "\n" << out;
        const auto document = nlohmann::json::parse(out.substr(0, out.find('\n')), nullptr, false);
        const nlohmann::json::json_pointer pointer(row[2]);
        EXPECT_EQ(document.contains(pointer) ? document.at(pointer) : nullptr, nlohmann::json::parse(row[3]))
            << row[0] + "\n" + out;
    }
}

TEST(ListPorts, FindsUartsAdaptersAndTheConsoleInAFakeTree)
{
    Folder folder; // tty1 lacks a device link, ttyS1 a UART; a hub above the adapter, decoys above devices/
    const std::string& root = folder.path;
    buildTree(root,
        R"(idVendor=dead idProduct=beef driver=/bus/above class/tty/tty1/dev=4:1 class/tty/ttyS1/type=0 class/tty/ttyS1/device=/devices/isa
class/tty/ttyS10/device=/devices/isa class/tty/ttyS9999999999/device=/devices/isa devices/isa/driver=/bus/serial8250 devices/pnp/driver=/bus/serial
class/tty/ttyS2/device=/devices/pnp/port devices/pnp/port/driver=/bus/serial-base/port devices/hub/idVendor=1d6b
devices/hub/idProduct=0002 devices/hub/usb/serial=A10K devices/hub/usb/idVendor=0403 devices/hub/usb/idProduct=6001
class/tty/ttyUSB0/device=/devices/hub/usb/1/ttyUSB0 devices/hub/usb/1/ttyUSB0/driver=/bus/ftdi_sio dev/ttyUSB0=node
dev/serial/by-id/usb-A10K=/dev/ttyUSB0 dev/char/1:3=/class/tty/ttyS10)");
    std::string found;
    for (const auto& d : platform::serialDevices({ root, root + "/dev" }))
        found += d.device + " " + d.driver + " " + d.usbId + " " + d.serial + " " + d.byId + ";";
    EXPECT_EQ(expand(found, { { root, "~" } }),
        "~/dev/ttyS9999999999 serial8250   ;~/dev/ttyS2 serial   ;~/dev/ttyS10 serial8250   ;"
        "~/dev/ttyUSB0 ftdi_sio 0403:6001 A10K ~/dev/serial/by-id/usb-A10K;");
    EXPECT_EQ(platform::describeDevice("/dev/null", { root, root + "/dev" }).driver, "serial8250"); // 1:3
    PtyPair front; // the console: tty0 stands for the virtual terminal in front, here tty3
    buildTree(root,
        "class/tty/console/active=tty0 class/tty/tty0/active=tty3 class/tty/tty3/dev=136:"
            + front.slavePath().substr(9));
    EXPECT_EQ(platform::terminalUse(front.slavePath(), { root, root + "/dev" }).systemConsole, true);
    EXPECT_EQ(platform::terminalUse("/dev/ptmx", { root, root + "/dev" }).systemConsole, false);
    EXPECT_EQ(platform::terminalUse("/dev/tty").controllingSession, getsid(0)) << "our own terminal";
}
