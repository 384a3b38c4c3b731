// The commands' answers as JSON (--json): one document on stdout, written by the library, never by
// hand. The schema is in the README.
#pragma once

#include "platform/tty/LineSettings.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>

namespace headless {

// Keys stay in the order they were added, as the README lists them.
using Json = nlohmann::ordered_json;

// Writes the document on one line. Text from a device that is not UTF-8 becomes U+FFFD: the
// library's dump would throw on it otherwise.
void printJson(const Json& document, std::ostream& out);

// {"command": ..., "port": "COM1", "device": "/dev/ttyS0" or null}: how every answer begins.
Json commandJson(const char* command, const std::string& portName);

// {"baud": 19200, "data_bits": 8, "parity": "None", "stop_bits": "1"}, with the dialog's names.
Json settingsJson(const platform::LineSettings& settings);

// A text, or null for an empty one.
Json textOrNull(const std::string& text);

} // namespace headless
