// Pieces of JSON written by hand: the program needs no more than strings, numbers and arrays.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A JSON string: quotes, backslashes and control characters escaped; bytes that are not UTF-8
// become U+FFFD, so that the output stays valid whatever a device reports.
std::string jsonString(const std::string& text);

// jsonString, or null for an empty text.
std::string jsonStringOrNull(const std::string& text);

std::string jsonNumberOrNull(const std::optional<int>& number);

std::string jsonNumbers(const std::vector<int>& numbers);
