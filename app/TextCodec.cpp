#include "app/TextCodec.h"

#include <QStringList>
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
    QStringList parts;
    for (size_t i = 0; i < count; ++i)
        parts << QStringLiteral("0x") + QString::number(bytes[i], 16).rightJustified(2, u'0').toUpper();
    return parts.join(u' ');
}
