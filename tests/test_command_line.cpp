// The command line: our options, the toolkit's, and port names that are never opened as paths.
#include "headless/CommandLine.h"
#include "platform/registry/PortRegistry.h"
#include "support/ParseArguments.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CommandLine, PortMappingsKeepTheirOrderSoTheLastOneWins)
{
    const auto line = parseWords({ "--port", "COM1=/dev/ttyUSB0", "--loopback", "--port=COM1=/dev/ttyACM0",
        "--port", "COM12=/dev/x" });
    ASSERT_TRUE(line.error.empty()) << line.error;
    ASSERT_EQ(line.mappings.size(), 4u);
    EXPECT_EQ(line.mappings[0].device, "/dev/ttyUSB0");
    EXPECT_TRUE(line.mappings[1].device.empty()) << "--loopback maps COM1 to the built-in port";
    EXPECT_EQ(line.mappings[2].device, "/dev/ttyACM0");
    EXPECT_EQ(line.mappings[3].comNumber, 12u);
    EXPECT_TRUE(line.usesLoopback());
}

TEST(CommandLine, SingleDashOptionsAndTheirValuesGoToTheToolkit)
{
    const auto line = parseWords({ "-platform", "offscreen", "--loopback", "-reverse" });
    ASSERT_TRUE(line.error.empty()) << line.error;
    EXPECT_EQ(line.toolkitArguments,
        (std::vector<std::string> { "comtest", "-platform", "offscreen", "-reverse" }));
}

TEST(CommandLine, BadArgumentsGiveAOneLineReason)
{
    EXPECT_NE(parseWords({ "--port", "COM0=/dev/ttyS0" }).error, "");
    EXPECT_NE(parseWords({ "--port", "COM1" }).error, "");
    EXPECT_NE(parseWords({ "--port", "COM1=" }).error, "");
    EXPECT_NE(parseWords({ "--port" }).error, "");
    EXPECT_NE(parseWords({ "--port", "COM01=/dev/x" }).error, "") << "leading zeros make no COM name";
    EXPECT_NE(parseWords({ "--frobnicate" }).error, "");
    EXPECT_NE(parseWords({ "stray" }).error, "");
    EXPECT_NE(parseWords({ "--help=yes" }).error, "");
}

TEST(PortNames, OnlyComNamesStandForDevices)
{
    auto& registry = platform::PortRegistry::instance();
    registry.reset();
    EXPECT_EQ(registry.deviceFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(registry.deviceFor("COM4"), "/dev/ttyS3");
    registry.mapComPort(2, "/dev/pts/9");
    registry.mapComPort(2, "/dev/ttyUSB1");
    EXPECT_EQ(registry.deviceFor("COM2"), "/dev/ttyUSB1") << "the last mapping wins";
    for (const char* name :
        { "/dev/ttyS0", "", "COM", "COM0", "COM01", "cOM1", "COM1 ", "COM-1", "CO", "COM1x" })
        EXPECT_EQ(registry.deviceFor(name), std::nullopt)
            << "\"" << name << "\" must never be opened as a path";
    registry.reset();
}

TEST(ProgramWithoutDisplay, HelpVersionAndBadArguments)
{
    if (!haveProgram())
        GTEST_SKIP() << "COMTEST_BINARY not set (run through ctest)";
    const ProgramRun help = runProgram("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--port COMn=DEVICE"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--loopback"), std::string::npos) << help.out;
    const ProgramRun version = runProgram("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "comtest 0.00.01\n");
    for (const char* bad : { "--port COM0=/dev/ttyS0", "--port COM1", "--port COM1=", "--bogus" }) {
        const ProgramRun run = runProgram(bad);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(run.out.rfind("comtest: ", 0), 0u) << bad << ": " << run.out;
        EXPECT_NE(run.out.find("Usage: comtest"), std::string::npos) << bad;
    }
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
