#include "app/TextCodec.h"

#include "serial/HexText.h"

#include <cstring>

std::string toNarrowBytes(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString fromNarrowBytes(const uint8_t* bytes, size_t capacity)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, capacity)));
}

QString hexBytes(const uint8_t* bytes, size_t count)
{
    return QString::fromStdString(hexText(std::string(reinterpret_cast<const char*>(bytes), count), "0x"));
}
