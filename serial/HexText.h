// Bytes written as hex for people and scripts: "41 42 0D".
#pragma once

#include <optional>
#include <string>

// Two upper-case hex digits: "0D".
std::string hexByte(unsigned char byte);

// Each byte as prefix and its two digits, single blanks between: "41 42 0D" (with "0x":
// "0x41 0x42 0x0D"); "" for no bytes.
std::string hexText(const std::string& bytes, const std::string& prefix = "");

// Reads hex bytes: pairs of hex digits in either case, optionally "0x"-prefixed, separated by
// blanks, commas or nothing ("41 42 0d", "0x41,0x42", "41420d"). nullopt for anything else,
// such as an odd number of digits in a group.
std::optional<std::string> parseHexBytes(const std::string& text);
