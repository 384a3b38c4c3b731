// The headless commands' arguments: one command at a time, options only with their command, and a
// one-line reason with the usage and exit status 2 for anything else.
#include "headless/CommandLine.h"
#include "headless/JsonText.h"
#include "serial/HexText.h"
#include "support/ParseArguments.h"
#include "test_headless_support.h"

#include <gtest/gtest.h>

using headless_test::contains;

TEST(HeadlessArguments, EachCommandTakesItsOwnOptions)
{
    const auto send
        = parseWords({ "--send", "--", "--expect=ok", "--com", "COM3", "--wait", "250", "--settings", "f" });
    ASSERT_EQ(send.error, "");
    EXPECT_EQ(send.command, Command::Send);
    EXPECT_EQ(send.sendText, "--") << "the word after --send is its text even when it starts with dashes";
    EXPECT_EQ(send.expectText, "ok");
    EXPECT_EQ(send.comPort, "COM3");
    EXPECT_EQ(send.waitMs, 250);
    EXPECT_EQ(send.settingsFile, "f");
    const auto check = parseWords({ "--loopback", "--check", "COM1", "--settings", "f" });
    ASSERT_EQ(check.error, "");
    EXPECT_EQ(check.command, Command::Check);
    EXPECT_EQ(check.checkPort, "COM1");
    EXPECT_EQ(parseWords({ "--list-ports", "--json" }).command, Command::ListPorts);
    EXPECT_EQ(parseWords({ "--selftest", "--com", "COM2" }).command, Command::SelfTest);
    EXPECT_EQ(parseWords({}).command, Command::Window);
}

TEST(HeadlessArguments, BadCombinationsGiveAOneLineReason)
{
    const std::vector<std::vector<std::string>> bad {
        { "--send", "a", "--check", "COM1" },
        { "--selftest", "--selftest" },
        { "--expect", "a" },
        { "--check", "COM1", "--wait", "5" },
        { "--selftest", "--hex" },
        { "--send", "a", "--json" },
        { "--check", "COM1", "--com", "COM2" },
        { "--list-ports", "--settings", "f" },
        { "--settings", "f" },
        { "--check", "/dev/ttyS0" },
        { "--check", "COM0" },
        { "--send", "a", "--com", "ttyS0" },
        { "--send", "a", "--wait", "-1" },
        { "--send", "a", "--wait", "soon" },
        { "--send", "a", "--wait", "3600001" },
        { "--send", "4", "--hex" },
        { "--send", "41", "--hex", "--expect", "4g" },
        { "--send", "a", "-platform", "offscreen" },
        { "--send" },
    };
    for (const auto& args : bad) {
        const auto line = parseWords(args);
        std::string joined;
        for (const auto& arg : args)
            joined += arg + " ";
        EXPECT_NE(line.error, "") << joined;
        EXPECT_EQ(line.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(HeadlessArguments, HexBytesAreReadInTheUsualSpellings)
{
    EXPECT_EQ(parseHexBytes("41 42 0d"), "AB\r");
    EXPECT_EQ(parseHexBytes("0x41,0X42"), "AB");
    EXPECT_EQ(parseHexBytes("41420D"), "AB\r");
    EXPECT_EQ(parseHexBytes(""), "");
    EXPECT_EQ(parseHexBytes("00 ff"), std::string("\0\xff", 2));
    EXPECT_EQ(parseHexBytes("414"), std::nullopt) << "odd count of digits";
    EXPECT_EQ(parseHexBytes("zz"), std::nullopt);
    EXPECT_EQ(parseHexBytes("41-42"), std::nullopt);
    EXPECT_EQ(hexText(std::string("A\0\xff", 3)), "41 00 FF");
}

TEST(HeadlessArguments, JsonStringsStayValidWhateverTheBytes)
{
    EXPECT_EQ(jsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"") << "UTF-8 passes";
    EXPECT_EQ(jsonString("bad\xff\xc3"), "\"bad\\ufffd\\ufffd\"") << "stray bytes are replaced";
    EXPECT_EQ(jsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"") << "no surrogates";
    EXPECT_EQ(jsonStringOrNull(""), "null");
    EXPECT_EQ(jsonNumbers({ 1, 22 }), "[1, 22]");
}

TEST(HeadlessProgram, BadArgumentsExitTwoWithReasonAndUsage)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    for (const char* args : { "--send a --check COM1", "--check", "--selftest --wait 9", "--send x --hex" }) {
        const ProgramRun run = runProgram(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out.rfind("comtest: ", 0), 0u) << args << ": " << run.out;
        EXPECT_TRUE(contains(run.out, "Usage: comtest")) << args;
    }
    const ProgramRun help = runProgram("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* command :
        { "--list-ports", "--check COMn", "--send TEXT", "--selftest", "--loopback --selftest" })
        EXPECT_TRUE(contains(help.out, command)) << command;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
