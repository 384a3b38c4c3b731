// Text of the edit boxes to and from the bytes on the line, in the locale's narrow encoding.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

// The bytes of text in the narrow encoding (UTF-8 under Qt 6 on Linux).
std::string toNarrowBytes(const QString& text);

// The bytes up to the first zero byte (at most capacity), decoded the same way.
QString fromNarrowBytes(const uint8_t* bytes, size_t capacity);

// "0x41 0x42 ..." for count bytes: "0x" and two upper-case hex digits each, single blanks between.
QString hexBytes(const uint8_t* bytes, size_t count);
