// The words the commands read: the command line, hex bytes and COM port names.
#include "platform/registry/PortRegistry.h"
#include "serial/HexText.h"
#include "support/ParseArguments.h"

#include <gtest/gtest.h>

#include <fstream>

// The parsed line in words ("-" for an option not given), then the mappings and toolkit words in order.
std::string fields(const CommandLine& l)
{
    static const char* kCommands[] { "window", "list", "check ", "send ", "selftest", "stress", "lines" };
    const auto set = [](const std::optional<bool>& on) { return on ? (*on ? "on" : "off") : "-"; };
    std::ostringstream s;
    s << kCommands[int(l.command)] << l.checkPort << l.sendText << (l.help ? " help" : "")
      << (l.version ? " version" : "") << (l.usesLoopback() ? " loopback" : "") << (l.hex ? " hex" : "")
      << (l.json ? " json" : "") << (l.internal ? " internal" : "") << " " << l.expectText.value_or("-")
      << " " << l.comPort.value_or("-") << " " << l.settingsFile.value_or("-") << " " << l.waitMs.value_or(-1)
      << " " << l.toPort.value_or("-") << " " << l.seconds.value_or(-1) << " " << l.byteCount.value_or(0)
      << " " << set(l.rts) << set(l.dtr);
    for (const auto& m : l.mappings)
        s << " COM" << m.comNumber << "=" << m.device;
    for (size_t i = 1; i < l.toolkitArguments.size(); ++i)
        s << " " << l.toolkitArguments[i];
    return s.str();
}

TEST(CommandLine, GoodLinesSetTheirFieldsAndBadOnesGiveTheirOneLineReason)
{
    for (const auto& row : rowsOf(R"(
 | window - - - -1 - -1 0 --
--port COM1=/dev/a --loopback --port=COM12=/dev/x | window loopback - - - -1 - -1 0 -- COM1=/dev/a COM1= COM12=/dev/x
-platform x --loopback -reverse -style f | window loopback - - - -1 - -1 0 -- COM1= -platform x -reverse -style f
--send -- --expect=ok --com COM3 --wait 3600000 --settings f | send -- ok COM3 f 3600000 - -1 0 --
--hex --send 4142 --expect 0x43 --wait=0 --json | send 4142 hex json 0x43 - - 0 - -1 0 --
--check COM1000000 --settings f | check COM1000000 - - f -1 - -1 0 --
--list-ports --json | list json - - - -1 - -1 0 --
--selftest --internal --com COM2 | selftest internal - COM2 - -1 - -1 0 --
--stress --to COM2 --seconds 604800 | stress - - - -1 COM2 604800 0 --
--stress --internal --bytes 1000000000000 | stress internal - - - -1 - -1 1000000000000 --
--stress --bytes 1 | stress - - - -1 - -1 1 --
--lines --rts on --dtr=off | lines - - - -1 - -1 0 onoff
--expect x --help | window help x - - -1 - -1 0 --
--version --json | window version json - - - -1 - -1 0 --)"))
        EXPECT_EQ(parseLine(row[0]).error + fields(parseLine(row[0])), row[1]) << row[0];
    for (const auto& row : rowsOf(R"(
--port COM0=/dev/x | --port COM0=/dev/x: "COM0" is not a port name COMn with n >= 1
--port COM1 | --port COM1: expected COMn=DEVICE
--port COM1= | --port COM1=: no device given for COM1
--port | --port needs a value
-style fusion stray | unexpected argument: stray
stray -style | unexpected argument: stray
--help=yes | --help takes no value
--send a --check COM1 | --send and --check cannot be given together
--selftest --selftest | --selftest given twice
--check COM1 --wait 5 | --wait goes with --send
--json | --json goes with --list-ports, --check, --send, --selftest, --stress or --lines
--stress --to COM2 --internal | --internal and --to cannot be given together
--stress --seconds 5 --bytes 9 | --seconds and --bytes cannot be given together
--stress --seconds 0 | --seconds 0: expected a whole number of seconds from 1 to 604800
--stress --bytes 1000000000001 | --bytes 1000000000001: expected a whole number of bytes from 1 to 1000000000000
--lines --rts 1 | --rts 1: expected on or off
--send a --internal | --internal goes with --selftest or --stress
--list-ports --settings f | --settings goes with --check, --send, --selftest, --stress or --lines
--send a --com ttyS0 | --com ttyS0: not a port name COMn with n >= 1
--selftest --settings= | --settings needs a file name
--send a --wait -1 | --wait -1: expected a whole number of milliseconds from 0 to 3600000
--send 4 --hex | --send 4: not hex bytes (e.g. "41 42 0d")
--send 41 --hex --expect 4g | --expect 4g: not hex bytes (e.g. "41 42 0d")
--send a -platform x | -platform: toolkit options go with the window, not with --send)"))
        EXPECT_EQ(parseLine(row[0]).error, row[1]);
    for (const std::string bad : { "COM1000001", "COM0", "COM01", "cOM1", "COM-1", "COM1x", "COM" })
        EXPECT_EQ(parseLine("--check " + bad).error, "--check " + bad + ": not a port name COMn with n >= 1");
    EXPECT_EQ(platform::PortRegistry::defaultComNumber("/dev/ttyS999999"), 1000000u); // ttySn is COMn+1
    for (const char* other : { "/dev/ttyS", "/dev/ttyS01", "/dev/ttyS-1", "/dev/ttyUSB1" })
        EXPECT_EQ(platform::PortRegistry::defaultComNumber(other), std::nullopt) << other;
}

TEST(Bytes, HexIsReadInTheUsualSpellings)
{
    for (const auto& row : rowsOf("0x41,0X42\t7e | 41 42 7E\n00ff Fa9A | 00 FF FA 9A\n ,  | "))
        EXPECT_EQ(hexText(parseHexBytes(row[0]).value_or("?")), row.size() > 1 ? row[1] : "") << row[0];
    for (const char* bad : { "414", "zz", "41-42", "0x", "4g", "0x4 1" })
        EXPECT_EQ(parseHexBytes(bad), std::nullopt) << bad;
    EXPECT_EQ(hexText("AB\r", "0x"), "0x41 0x42 0x0D");
}

TEST(CommandLine, UsageIsTheOneTheReadmeShows)
{
    const std::string readme { std::istreambuf_iterator<char>(std::ifstream(COMTEST_README).rdbuf()), {} };
    EXPECT_NE(readme.find("```text\n" + usageText() + "```"), std::string::npos) << usageText();
}
