#include "TextCodec.h"

#include <QStringList>
#include <cstring>

std::string toNarrowBytes(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString fromNarrowBytes(const uint8_t* bytes, size_t capacity)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    return QString::fromLocal8Bit(text, static_cast<qsizetype>(strnlen(text, capacity)));
}

QString hexBytes(const uint8_t* bytes, size_t count)
{
    QStringList parts;
    for (size_t i = 0; i < count; ++i)
        parts << QString("0x%1").arg(bytes[i], 2, 16, QChar('0')).toUpper().replace("0X", "0x");
    return parts.join(' ');
}
