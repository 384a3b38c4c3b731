// Bytes written as hex for people and scripts: "41 42 0D".
#pragma once

#include <optional>
#include <string>

// Upper-case pairs of hex digits separated by single blanks; "" for no bytes.
std::string hexText(const std::string& bytes);

// Reads hex bytes: pairs of hex digits in either case, optionally "0x"-prefixed, separated by
// blanks, commas or nothing ("41 42 0d", "0x41,0x42", "41420d"). nullopt for anything else,
// such as an odd number of digits in a group.
std::optional<std::string> parseHexBytes(const std::string& text);
