// The built-in loop-back port: an ordinary, exclusive port whose far end echoes every byte.
#include "platform/registry/PortRegistry.h"
#include "platform/tty/Loopback.h"
#include "platform/tty/SerialPort.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class LoopbackPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(loopback.start());
        platform::PortRegistry::instance().mapComPort(1, loopback.devicePath());
    }
    void TearDown() override { platform::PortRegistry::instance().reset(); }

    platform::Loopback loopback;
};

} // namespace

TEST_F(LoopbackPort, EchoesWhatIsSentAndIsExclusive)
{
    const auto opened = platform::openPortExclusive("COM1");
    ASSERT_TRUE(platform::isPort(opened.handle));
    EXPECT_TRUE(platform::applyLineSettings(opened.handle, { 115200, 0, 8, 0 }));
    EXPECT_FALSE(platform::isPort(platform::openPortExclusive("COM1").handle)) << "a second open is refused";

    const std::string text = "ABC";
    EXPECT_EQ(
        platform::writeAll(opened.handle, reinterpret_cast<const uint8_t*>(text.data()), text.size()), 3u);
    ASSERT_TRUE(PtyPair::waitUntil([&] { return platform::bytesWaiting(opened.handle) == 3; }, 2s));
    uint8_t got[8] = {};
    EXPECT_EQ(platform::readBytes(opened.handle, got, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 3), "ABC") << "echoed bytes";
    platform::closePort(opened.handle);
}

TEST_F(LoopbackPort, KeepsDrainingWhileALongWriteRuns)
{
    const auto opened = platform::openPortExclusive("COM1");
    ASSERT_TRUE(platform::isPort(opened.handle));
    ASSERT_TRUE(platform::applyLineSettings(opened.handle, { 115200, 0, 8, 0 }));
    const std::vector<uint8_t> burst(3000, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::writeAll(opened.handle, burst.data(), burst.size()), burst.size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(PtyPair::waitUntil([&] { return platform::bytesWaiting(opened.handle) == 3000; }, 3s))
        << "every byte comes back";
    platform::closePort(opened.handle);
    const auto reopened = platform::openPortExclusive("COM1");
    ASSERT_TRUE(platform::isPort(reopened.handle));
    EXPECT_EQ(platform::bytesWaiting(reopened.handle), 0) << "a close discards what was not read";
    platform::closePort(reopened.handle);
}

TEST_F(LoopbackPort, CostsNoCpuWhileIdle)
{
    const auto opened = platform::openPortExclusive("COM1");
    ASSERT_TRUE(platform::isPort(opened.handle));
    platform::closePort(opened.handle); // a port opened and closed again leaves the echo idle too
    const double before = cpuSeconds();
    std::this_thread::sleep_for(1s); // measuring idleness needs wall time to pass
    EXPECT_LT(cpuSeconds() - before, 0.02) << "CPU seconds used in one idle second";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
