// The settings file layout on its own: bytes in, bytes out, no window and no disk.
#include "serial/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using settings_file::Block;
using settings_file::LineSettings;

namespace {

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

// The file the default settings give when nothing was loaded before, written out by hand.
std::vector<uint8_t> workedExample()
{
    std::vector<uint8_t> file = bytesOf("Velmora RS232 Interface Debug Tools");
    file.push_back(0x00); // end of the header
    const std::vector<uint8_t> settings { 0x00, 0x00, 0x08, 0x00, 0x00, 0x4B, 0x00, 0x00 };
    file.insert(file.end(), settings.begin(), settings.end());
    file.insert(file.end(), 248, 0x00);
    const std::vector<uint8_t> name { 0x43, 0x4F, 0x4D, 0x31 };
    file.insert(file.end(), name.begin(), name.end());
    return file;
}

LineSettings defaults()
{
    return { 19200, 0, 8, 0, "COM1" };
}

std::vector<uint8_t> encoded(const LineSettings& settings, const Block& block = {})
{
    const auto file = settings_file::encode(settings, block);
    return { file.begin(), file.end() };
}

// A block whose every byte differs from its neighbours, so that a moved or lost byte shows.
Block patternedBlock()
{
    Block block;
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(0xFF - i);
    return block;
}

std::vector<uint8_t> withPortNameField(std::vector<uint8_t> file, const std::string& field)
{
    std::copy(field.begin(), field.end(), file.begin() + 292);
    return file;
}

} // namespace

TEST(SettingsFileFormat, DefaultSettingsEncodeToTheWorkedExampleByteForByte)
{
    const std::vector<uint8_t> expected = workedExample();
    ASSERT_EQ(expected.size(), 296u);
    const std::vector<uint8_t> actual = encoded(defaults());
    ASSERT_EQ(actual.size(), 296u);
    for (size_t offset = 0; offset < expected.size(); ++offset)
        EXPECT_EQ(actual[offset], expected[offset]) << "file byte at offset " << offset;
}

TEST(SettingsFileFormat, SizesAddUpToTheFileLength)
{
    EXPECT_EQ(settings_file::kHeaderSize, 36u);
    EXPECT_EQ(settings_file::kFileSize, 296u);
}

TEST(SettingsFileFormat, SavingCarriesUninterpretedBlockBytesThroughUntouched)
{
    const Block block = patternedBlock();
    const std::vector<uint8_t> file = encoded(defaults(), block);
    EXPECT_EQ(file[36], block[0]) << "block byte 0";
    for (size_t i = 8; i < 256; ++i)
        EXPECT_EQ(file[36 + i], block[i]) << "block byte " << i;
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 37, file.begin() + 44),
        (std::vector<uint8_t> { 0x00, 0x08, 0x00, 0x00, 0x4B, 0x00, 0x00 }))
        << "block bytes 1 to 7 hold the settings";
}

TEST(SettingsFileFormat, StoringSettingsChangesOnlyBlockBytesOneToSeven)
{
    const Block block = patternedBlock();
    const Block stored = settings_file::storeSettings(block, { 115200, 2, 7, 2, "COM2" });
    for (size_t i = 0; i < 256; ++i) {
        if (i >= 1 && i <= 7)
            continue;
        EXPECT_EQ(stored[i], block[i]) << "block byte " << i;
    }
    EXPECT_EQ(stored[1], 2);
    EXPECT_EQ(stored[2], 7);
    EXPECT_EQ(stored[3], 2);
    EXPECT_EQ(stored[4], 0x00); // 115200 = 0x0001C200
    EXPECT_EQ(stored[5], 0xC2);
    EXPECT_EQ(stored[6], 0x01);
    EXPECT_EQ(stored[7], 0x00);
}

TEST(SettingsFileFormat, BaudRateIsTruncatedTowardZeroAndKeptInRange)
{
    const std::pair<double, uint32_t> rates[] { { 19200.9, 19200u }, { 0.5, 0u }, { -5.0, 0u },
        { 1e12, 4294967295u }, { 4294967295.0, 4294967295u } };
    for (const auto& [asked, stored] : rates) {
        const LineSettings settings { platform::lineSpeed(asked), 0, 8, 0, "COM1" };
        EXPECT_EQ(settings_file::decode(encoded(settings))->settings.baudRate, stored) << asked;
    }
}

TEST(SettingsFileFormat, ShortPortNameIsFollowedByZeroBytes)
{
    const std::vector<uint8_t> file = encoded({ 9600, 0, 8, 0, "CO" });
    EXPECT_EQ(
        std::vector<uint8_t>(file.begin() + 292, file.end()), (std::vector<uint8_t> { 'C', 'O', 0, 0 }));
}

TEST(SettingsFileFormat, LongPortNameKeepsItsFirstFourCharacters)
{
    const std::vector<uint8_t> file = encoded({ 9600, 0, 8, 0, "COM12" });
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 292, file.end()), bytesOf("COM1"));
}

TEST(SettingsFileFormat, WorkedExampleDecodesToTheDefaults)
{
    const auto loaded = settings_file::decode(workedExample());
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->settings.portName, "COM1");
    EXPECT_EQ(loaded->settings.baudRate, 19200u);
    EXPECT_EQ(loaded->settings.parity, 0);
    EXPECT_EQ(loaded->settings.byteSize, 8);
    EXPECT_EQ(loaded->settings.stopBits, 0);
    EXPECT_EQ(loaded->block, settings_file::storeSettings(Block {}, defaults()));
}

TEST(SettingsFileFormat, DecodingGivesBackTheWholeBlockThatWasSaved)
{
    const LineSettings settings { 57600, 4, 5, 1, "COM4" };
    const Block block = patternedBlock();
    const auto loaded = settings_file::decode(encoded(settings, block));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->block, settings_file::storeSettings(block, settings));
    EXPECT_EQ(loaded->settings.portName, "COM4");
    EXPECT_EQ(loaded->settings.baudRate, 57600u);
    EXPECT_EQ(loaded->settings.parity, 4);
    EXPECT_EQ(loaded->settings.byteSize, 5);
    EXPECT_EQ(loaded->settings.stopBits, 1);
}

TEST(SettingsFileFormat, HeaderInAnotherLetterCaseIsRefused)
{
    std::vector<uint8_t> file = workedExample();
    file[0] = 'v';
    EXPECT_FALSE(settings_file::hasHeader(file));
    EXPECT_FALSE(settings_file::decode(file).has_value());
}

TEST(SettingsFileFormat, HeaderWithoutItsZeroByteIsRefused)
{
    std::vector<uint8_t> file = workedExample();
    file[35] = ' ';
    EXPECT_FALSE(settings_file::hasHeader(file));
    EXPECT_FALSE(settings_file::decode(file).has_value());
}

TEST(SettingsFileFormat, ShorterHeaderTextBeforeTheZeroIsRefused)
{
    std::vector<uint8_t> file = workedExample();
    file[34] = 0; // "...Debug Tool" then two zero bytes
    EXPECT_FALSE(settings_file::hasHeader(file));
}

TEST(SettingsFileFormat, EmptyAndShortFilesAreRefused)
{
    EXPECT_FALSE(settings_file::decode({}).has_value());
    const std::vector<uint8_t> file = workedExample();
    for (size_t length : { 1u, 20u, 35u }) {
        const std::vector<uint8_t> shortFile(file.begin(), file.begin() + length);
        EXPECT_FALSE(settings_file::hasHeader(shortFile)) << length << " bytes";
        EXPECT_FALSE(settings_file::decode(shortFile).has_value()) << length << " bytes";
    }
    EXPECT_TRUE(settings_file::hasHeader(std::vector<uint8_t>(file.begin(), file.begin() + 36)));
}

TEST(SettingsFileFormat, FileEndingBeforeItsLastByteIsRefusedThoughItsHeaderMatches)
{
    const std::vector<uint8_t> file = workedExample();
    for (size_t length : { 36u, 100u, 292u, 295u }) {
        const std::vector<uint8_t> truncated(file.begin(), file.begin() + length);
        EXPECT_TRUE(settings_file::hasHeader(truncated)) << length << " bytes";
        EXPECT_FALSE(settings_file::decode(truncated).has_value()) << length << " bytes";
    }
}

TEST(SettingsFileFormat, BytesPastThePortNameFieldAreIgnored)
{
    std::vector<uint8_t> file = workedExample();
    file.insert(file.end(), { 'X', 'Y', 0, 0xFF });
    const auto loaded = settings_file::decode(file);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->settings.portName, "COM1");
}

TEST(SettingsFileFormat, PortNameEndsAtItsFirstZeroByte)
{
    EXPECT_EQ(settings_file::decode(withPortNameField(workedExample(), std::string("CO\0\0", 4)))
                  ->settings.portName,
        "CO");
    EXPECT_EQ(
        settings_file::decode(withPortNameField(workedExample(), std::string("C\0M1", 4)))->settings.portName,
        "C");
    EXPECT_EQ(
        settings_file::decode(withPortNameField(workedExample(), std::string("\0OM1", 4)))->settings.portName,
        "");
}

TEST(SettingsFileFormat, FourNonZeroPortNameBytesAreTakenWhole)
{
    EXPECT_EQ(
        settings_file::decode(withPortNameField(workedExample(), "ZQ\xE9!"))->settings.portName, "ZQ\xE9!");
}

TEST(SettingsFileFormat, ValuesOffTheDialogsListsAreTakenAsTheyStand)
{
    std::vector<uint8_t> file = workedExample();
    file[37] = 9; // parity code no list has
    file[38] = 9; // 9 data bits
    file[39] = 7;
    file[40] = 0x58; // 600 = 0x0258
    file[41] = 0x02;
    const auto loaded = settings_file::decode(file);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->settings.parity, 9);
    EXPECT_EQ(loaded->settings.byteSize, 9);
    EXPECT_EQ(loaded->settings.stopBits, 7);
    EXPECT_EQ(loaded->settings.baudRate, 600u);
}

TEST(SettingsFileFormat, BaudRateIsReadLeastSignificantByteFirstOverAllFourBytes)
{
    std::vector<uint8_t> file = workedExample();
    file[40] = 0x01;
    file[41] = 0x02;
    file[42] = 0x03;
    file[43] = 0xF4;
    EXPECT_EQ(settings_file::decode(file)->settings.baudRate, 0xF4030201u);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
