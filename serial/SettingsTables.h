// The settings dialog's text tables: each combo box's texts and the value each one stands for.
// Texts are matched whole and case-sensitively, never parsed as numbers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace settings_tables {

std::optional<std::string> portFor(const std::string& text);
std::optional<double> baudFor(const std::string& text);
std::optional<unsigned char> parityFor(const std::string& text);
std::optional<unsigned char> dataBitsFor(const std::string& text);
std::optional<unsigned char> stopBitsFor(const std::string& text);

// The text of the row whose value equals the given one; nothing when no row does.
std::optional<std::string> portText(const std::string& value);
std::optional<std::string> baudText(double value);
std::optional<std::string> parityText(unsigned char value);
std::optional<std::string> dataBitsText(unsigned char value);
std::optional<std::string> stopBitsText(unsigned char value);

// Every row's value, in the order of the list (the self-test runs them all).
std::vector<double> baudValues();
std::vector<unsigned char> parityValues();
std::vector<unsigned char> dataBitsValues();
std::vector<unsigned char> stopBitsValues();

} // namespace settings_tables
