// The settings dialog's text tables: each combo box's texts and the value each one stands for.
// Texts are matched whole and case-sensitively, never parsed as numbers.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace settings_tables {

// Each row's text and its value, in the order of the list (the self-test runs them all).
template <typename Value, size_t N> using Table = std::array<std::pair<const char*, Value>, N>;

extern const Table<std::string, 4> ports; // the names the layout lists first
extern const Table<double, 10> bauds;
extern const Table<unsigned char, 5> parities;
extern const Table<unsigned char, 4> dataBits;
extern const Table<unsigned char, 2> stopBits;

// The value of the row whose text equals the given one; nothing when no row does.
template <typename Value, size_t N>
std::optional<Value> valueOf(const Table<Value, N>& table, const std::string& text)
{
    for (const auto& [rowText, value] : table)
        if (text == rowText)
            return value;
    return std::nullopt;
}

// The text of the row whose value equals the given one; nothing when no row does.
std::optional<std::string> baudText(double value);
std::optional<std::string> parityText(unsigned char value);
std::optional<std::string> dataBitsText(unsigned char value);
std::optional<std::string> stopBitsText(unsigned char value);

} // namespace settings_tables
