#include "serial/SettingsTables.h"

namespace settings_tables {

const Table<std::string, 4> ports { { { "COM1", "COM1" }, { "COM2", "COM2" }, { "COM3", "COM3" },
    { "COM4", "COM4" } } };
const Table<double, 10> bauds { { { "110", 110.0 }, { "300", 300.0 }, { "1200", 1200.0 }, { "2400", 2400.0 },
    { "4800", 4800.0 }, { "9600", 9600.0 }, { "19200", 19200.0 }, { "38400", 38400.0 }, { "57600", 57600.0 },
    { "115200", 115200.0 } } };
const Table<unsigned char, 5> parities { { { "None", 0 }, { "Odd", 1 }, { "Even", 2 }, { "Mark", 3 },
    { "Space", 4 } } };
const Table<unsigned char, 4> dataBits { { { "5", 5 }, { "6", 6 }, { "7", 7 }, { "8", 8 } } };
const Table<unsigned char, 2> stopBits { { { "1", 0 }, { "2", 2 } } };

namespace {

template <typename Value, size_t N>
std::optional<std::string> textOf(const Table<Value, N>& table, const Value& value)
{
    for (const auto& [rowText, rowValue] : table)
        if (rowValue == value)
            return std::string(rowText);
    return std::nullopt;
}

} // namespace

std::optional<std::string> baudText(double value)
{
    return textOf(bauds, value);
}
std::optional<std::string> parityText(unsigned char value)
{
    return textOf(parities, value);
}
std::optional<std::string> dataBitsText(unsigned char value)
{
    return textOf(dataBits, value);
}
std::optional<std::string> stopBitsText(unsigned char value)
{
    return textOf(stopBits, value);
}

} // namespace settings_tables
