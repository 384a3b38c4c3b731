#include "serial/SettingsTables.h"

#include <array>
#include <utility>

namespace settings_tables {

namespace {

template <typename Value, size_t N>
std::optional<Value> valueOf(
    const std::array<std::pair<const char*, Value>, N>& table, const std::string& text)
{
    for (const auto& [rowText, value] : table)
        if (text == rowText)
            return value;
    return std::nullopt;
}

template <typename Value, size_t N>
std::optional<std::string> textOf(
    const std::array<std::pair<const char*, Value>, N>& table, const Value& value)
{
    for (const auto& [rowText, rowValue] : table)
        if (rowValue == value)
            return std::string(rowText);
    return std::nullopt;
}

template <typename Value, size_t N>
std::vector<Value> valuesOf(const std::array<std::pair<const char*, Value>, N>& table)
{
    std::vector<Value> values;
    for (const auto& row : table)
        values.push_back(row.second);
    return values;
}

const std::array<std::pair<const char*, std::string>, 4> ports { { { "COM1", "COM1" }, { "COM2", "COM2" },
    { "COM3", "COM3" }, { "COM4", "COM4" } } };
const std::array<std::pair<const char*, double>, 10> bauds { { { "110", 110.0 }, { "300", 300.0 },
    { "1200", 1200.0 }, { "2400", 2400.0 }, { "4800", 4800.0 }, { "9600", 9600.0 }, { "19200", 19200.0 },
    { "38400", 38400.0 }, { "57600", 57600.0 }, { "115200", 115200.0 } } };
const std::array<std::pair<const char*, unsigned char>, 5> parities { { { "None", 0 }, { "Odd", 1 },
    { "Even", 2 }, { "Mark", 3 }, { "Space", 4 } } };
const std::array<std::pair<const char*, unsigned char>, 4> dataBits { { { "5", 5 }, { "6", 6 }, { "7", 7 },
    { "8", 8 } } };
const std::array<std::pair<const char*, unsigned char>, 2> stopBits { { { "1", 0 }, { "2", 2 } } };

} // namespace

std::optional<std::string> portFor(const std::string& text)
{
    return valueOf(ports, text);
}
std::optional<double> baudFor(const std::string& text)
{
    return valueOf(bauds, text);
}
std::optional<unsigned char> parityFor(const std::string& text)
{
    return valueOf(parities, text);
}
std::optional<unsigned char> dataBitsFor(const std::string& text)
{
    return valueOf(dataBits, text);
}
std::optional<unsigned char> stopBitsFor(const std::string& text)
{
    return valueOf(stopBits, text);
}

std::optional<std::string> portText(const std::string& value)
{
    return textOf(ports, value);
}
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

std::vector<double> baudValues()
{
    return valuesOf(bauds);
}
std::vector<unsigned char> parityValues()
{
    return valuesOf(parities);
}
std::vector<unsigned char> dataBitsValues()
{
    return valuesOf(dataBits);
}
std::vector<unsigned char> stopBitsValues()
{
    return valuesOf(stopBits);
}

} // namespace settings_tables
