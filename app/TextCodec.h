// Text of the edit boxes to and from the bytes on the line. The narrow encoding is UTF-8: it is
// what Qt 6 takes as the local 8-bit encoding on Linux, and naming it keeps the wire bytes from
// depending on how the program was started.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

// Every byte of text in UTF-8, with no terminator.
std::string toNarrowBytes(const QString& text);

// The bytes up to the first zero byte (at most capacity of them), decoded from UTF-8.
QString fromNarrowBytes(const uint8_t* bytes, size_t capacity);

// "0x41 0x42 ..." for count bytes: "0x" and two upper-case hex digits each, single blanks between.
QString hexBytes(const uint8_t* bytes, size_t count);
