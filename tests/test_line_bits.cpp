#include "platform/tty/LineBits.h"

#include <gtest/gtest.h>

#include <termios.h>

using platform::buildLine;
using platform::LineBits;
using platform::LineSettings;
using platform::readBackAccepted;

namespace {

LineSettings settings(uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    return LineSettings { baud, parity, byteSize, stopBits };
}

// What a port straight after boot looks like: a cooked terminal line.
LineBits cookedLine()
{
    LineBits bits;
    bits.iflag = ICRNL | IXON | BRKINT | IMAXBEL;
    bits.oflag = OPOST | ONLCR;
    bits.cflag = B9600 | CS8 | CREAD | HUPCL;
    bits.lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    bits.cc[VMIN] = 1;
    bits.cc[VTIME] = 0;
    bits.cc[VSTART] = 0x11;
    bits.cc[VSTOP] = 0x13;
    bits.ispeed = bits.ospeed = 9600;
    return bits;
}

// What a terminal program may leave behind: mark parity, 5 data bits, two stop bits, RTS/CTS.
LineBits leftByAnotherProgram()
{
    LineBits bits = cookedLine();
    bits.iflag |= INPCK | IXOFF;
    bits.cflag = B2400 | CS5 | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | CREAD;
    bits.ispeed = bits.ospeed = 2400;
    return bits;
}

constexpr uint32_t kParityBits = PARENB | PARODD | CMSPAR;

} // namespace

class LineBitsBuild : public ::testing::Test { };

TEST_F(LineBitsBuild, EachParityCodeSetsItsOwnParityBits)
{
    const uint32_t expected[] = { 0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR };
    for (uint8_t parity = 0; parity <= 4; ++parity) {
        for (const LineBits& before : { cookedLine(), leftByAnotherProgram() }) {
            const auto next = buildLine(before, settings(19200, parity, 8, 0));
            ASSERT_TRUE(next) << "parity code " << int(parity);
            EXPECT_EQ(next->cflag & kParityBits, expected[parity]) << "parity code " << int(parity);
        }
    }
}

TEST_F(LineBitsBuild, NoneOddAndEvenClearStickyParityLeftByAnotherProgram)
{
    for (uint8_t parity : { 0, 1, 2 }) {
        const auto next = buildLine(leftByAnotherProgram(), settings(19200, parity, 8, 0));
        ASSERT_TRUE(next);
        EXPECT_EQ(next->cflag & CMSPAR, 0u) << "parity code " << int(parity) << " must not act as mark/space";
    }
}

TEST_F(LineBitsBuild, DataBitsReplaceTheWholeSizeField)
{
    const uint32_t expected[] = { CS5, CS6, CS7, CS8 };
    for (uint8_t size = 5; size <= 8; ++size) {
        for (const LineBits& before : { cookedLine(), leftByAnotherProgram() }) {
            const auto next = buildLine(before, settings(19200, 0, size, 0));
            ASSERT_TRUE(next);
            EXPECT_EQ(next->cflag & CSIZE, expected[size - 5]) << int(size) << " data bits";
        }
    }
}

TEST_F(LineBitsBuild, StopBitCodeZeroIsOneStopBitAndTwoIsTwo)
{
    for (const LineBits& before : { cookedLine(), leftByAnotherProgram() }) {
        EXPECT_EQ(buildLine(before, settings(19200, 0, 8, 0))->cflag & CSTOPB, 0u) << "one stop bit";
        EXPECT_EQ(buildLine(before, settings(19200, 0, 8, 2))->cflag & CSTOPB, uint32_t(CSTOPB)) << "two";
    }
}

TEST_F(LineBitsBuild, FlowControlLocalHangUpAndParityCheckAreKeptAsThePortHadThem)
{
    const auto fromOther = buildLine(leftByAnotherProgram(), settings(19200, 2, 8, 0));
    ASSERT_TRUE(fromOther);
    EXPECT_EQ(fromOther->cflag & (CRTSCTS | CLOCAL | HUPCL), uint32_t(CRTSCTS | CLOCAL));
    EXPECT_EQ(fromOther->iflag, uint32_t(IXON | IXOFF | INPCK));

    const auto fromCooked = buildLine(cookedLine(), settings(19200, 2, 8, 0));
    ASSERT_TRUE(fromCooked);
    EXPECT_EQ(fromCooked->cflag & (CRTSCTS | CLOCAL | HUPCL), uint32_t(HUPCL));
    EXPECT_EQ(fromCooked->iflag, uint32_t(IXON));
    EXPECT_EQ(fromCooked->cc[VSTART], 0x11) << "flow control characters kept";
    EXPECT_EQ(fromCooked->cc[VSTOP], 0x13);
}

TEST_F(LineBitsBuild, LineIsRawAndReadsReturnAtOnce)
{
    const auto next = buildLine(cookedLine(), settings(19200, 0, 8, 0));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->oflag, 0u) << "no output processing";
    EXPECT_EQ(next->lflag, 0u) << "no echo, line editing or signals";
    EXPECT_EQ(next->iflag & (ICRNL | BRKINT | IMAXBEL), 0u) << "no CR/LF translation";
    EXPECT_NE(next->cflag & CREAD, 0u) << "receiver on";
    EXPECT_EQ(next->cc[VMIN], 0);
    EXPECT_EQ(next->cc[VTIME], 0);
}

TEST_F(LineBitsBuild, StandardSpeedUsesItsConstantAndAnyOtherSpeedTheSpeedField)
{
    const auto standard = buildLine(leftByAnotherProgram(), settings(19200, 0, 8, 0));
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->cflag & (CBAUD | CIBAUD), uint32_t(B19200));
    EXPECT_EQ(platform::outputSpeed(*standard), 19200u);

    const auto odd = buildLine(leftByAnotherProgram(), settings(12345, 0, 8, 0));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->cflag & (CBAUD | CIBAUD), platform::kSpeedInField);
    EXPECT_EQ(odd->ospeed, 12345u);
    EXPECT_EQ(platform::outputSpeed(*odd), 12345u);
    EXPECT_EQ(platform::inputSpeed(*odd), 12345u) << "input speed follows output speed";
}

TEST_F(LineBitsBuild, ValuesWithoutTermiosFormAreRefused)
{
    EXPECT_FALSE(buildLine(cookedLine(), settings(19200, 0, 8, 1))) << "one and a half stop bits";
    EXPECT_FALSE(buildLine(cookedLine(), settings(19200, 0, 8, 3))) << "stop-bit code 3";
    EXPECT_FALSE(buildLine(cookedLine(), settings(19200, 5, 8, 0))) << "parity code 5";
    EXPECT_FALSE(buildLine(cookedLine(), settings(19200, 0, 4, 0))) << "4 data bits";
    EXPECT_FALSE(buildLine(cookedLine(), settings(19200, 0, 9, 0))) << "9 data bits";
    EXPECT_FALSE(buildLine(cookedLine(), settings(0, 0, 8, 0))) << "speed 0";
}

TEST_F(LineBitsBuild, DescribedSettingsAreTheOnesBuilt)
{
    for (uint8_t parity = 0; parity <= 4; ++parity) {
        const auto next = buildLine(cookedLine(), settings(12345, parity, 7, 2));
        ASSERT_TRUE(next);
        const LineSettings described = platform::describeLine(*next);
        EXPECT_EQ(described.baudRate, 12345u);
        EXPECT_EQ(described.parity, parity);
        EXPECT_EQ(described.byteSize, 7);
        EXPECT_EQ(described.stopBits, 2);
        EXPECT_EQ(platform::bitsPerCharacter(*next), 1 + 7 + (parity ? 1 : 0) + 2);
    }
}

class LineBitsReadBack : public ::testing::Test {
protected:
    LineBits wanted(uint32_t baud, uint8_t parity = 0, uint8_t size = 8, uint8_t stop = 0)
    {
        return *buildLine(cookedLine(), settings(baud, parity, size, stop));
    }
};

TEST_F(LineBitsReadBack, IdenticalSettingsAreAccepted)
{
    const LineBits line = wanted(19200, 2, 7, 2);
    EXPECT_TRUE(readBackAccepted(line, line, false));
}

TEST_F(LineBitsReadBack, SpeedFieldRewrittenToItsStandardConstantIsAccepted)
{
    LineBits asked = wanted(19200);
    asked.cflag = (asked.cflag & ~CBAUD) | platform::kSpeedInField;
    LineBits reported = wanted(19200);
    reported.ispeed = reported.ospeed = 0;
    ASSERT_EQ(reported.cflag & CBAUD, uint32_t(B19200));
    EXPECT_TRUE(readBackAccepted(asked, reported, false)) << "B19200 means 19200 bit/s";
    EXPECT_TRUE(readBackAccepted(reported, asked, false));
}

TEST_F(LineBitsReadBack, SpeedWithinTwoPercentIsAcceptedAndFivePercentOffRefused)
{
    const LineBits asked = wanted(12345);
    LineBits rounded = asked;
    rounded.ospeed = rounded.ispeed = 12530; // 1.5 % above
    EXPECT_TRUE(readBackAccepted(asked, rounded, false));
    rounded.ospeed = rounded.ispeed = 12160; // 1.5 % below
    EXPECT_TRUE(readBackAccepted(asked, rounded, false));
    LineBits wrong = asked;
    wrong.ospeed = wrong.ispeed = 12962; // 5 % above
    EXPECT_FALSE(readBackAccepted(asked, wrong, false));
    LineBits otherInput = asked;
    otherInput.cflag |= B9600 << platform::kInputSpeedShift;
    EXPECT_FALSE(readBackAccepted(asked, otherInput, false)) << "input speed changed";
}

TEST_F(LineBitsReadBack, ChangedSizeIsRefusedOnARealPort)
{
    const LineBits asked = wanted(19200, 0, 7);
    LineBits reported = asked;
    reported.cflag = (reported.cflag & ~CSIZE) | CS8;
    EXPECT_FALSE(readBackAccepted(asked, reported, false));
}

TEST_F(LineBitsReadBack, PtyForcedSizeAndParityOffAreAcceptedOnlyOnAPty)
{
    for (uint8_t parity = 1; parity <= 4; ++parity) {
        const LineBits asked = wanted(19200, parity, 5, 2);
        LineBits forced = asked;
        forced.cflag = (forced.cflag & ~(CSIZE | PARENB)) | CS8;
        EXPECT_TRUE(readBackAccepted(asked, forced, true)) << "parity code " << int(parity);
        EXPECT_FALSE(readBackAccepted(asked, forced, false)) << "parity code " << int(parity);
    }
}

TEST_F(LineBitsReadBack, PtyMustStillKeepOddStickyAndStopBits)
{
    const LineBits asked = wanted(19200, 3, 8, 2);
    const uint32_t forcedBits = (asked.cflag & ~(CSIZE | PARENB)) | CS8;
    for (uint32_t lost : { uint32_t(PARODD), uint32_t(CMSPAR), uint32_t(CSTOPB) }) {
        LineBits reported = asked;
        reported.cflag = forcedBits & ~lost;
        EXPECT_FALSE(readBackAccepted(asked, reported, true)) << "lost flag " << lost;
    }
}

TEST_F(LineBitsReadBack, ParityTurnedOnWhenNoneWasAskedIsRefusedEvenOnAPty)
{
    const LineBits asked = wanted(19200, 0);
    LineBits reported = asked;
    reported.cflag |= PARENB;
    EXPECT_FALSE(readBackAccepted(asked, reported, true));
}

TEST_F(LineBitsReadBack, AnyOtherChangeByTheDriverIsRefused)
{
    LineBits asked = *buildLine(leftByAnotherProgram(), settings(19200, 2, 8, 0));
    LineBits noFlowControl = asked;
    noFlowControl.cflag &= ~CRTSCTS;
    EXPECT_FALSE(readBackAccepted(asked, noFlowControl, true)) << "RTS/CTS dropped";
    LineBits echoing = asked;
    echoing.lflag |= ECHO;
    EXPECT_FALSE(readBackAccepted(asked, echoing, true));
    LineBits translating = asked;
    translating.iflag |= ICRNL;
    EXPECT_FALSE(readBackAccepted(asked, translating, true));
    LineBits blocking = asked;
    blocking.cc[VMIN] = 1;
    EXPECT_FALSE(readBackAccepted(asked, blocking, true));
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
