#include "serial/HexText.h"

#include <cctype>

namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',';
}

} // namespace

std::string hexByte(unsigned char byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return { kDigits[byte >> 4], kDigits[byte & 0x0F] };
}

std::string hexText(const std::string& bytes, const std::string& prefix)
{
    std::string text;
    for (const char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += prefix + hexByte(static_cast<unsigned char>(c));
    }
    return text;
}

std::optional<std::string> parseHexBytes(const std::string& text)
{
    std::string bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0)
            i += 2;
        size_t end = i;
        while (end < text.size() && digitValue(text[end]) >= 0)
            ++end;
        const size_t digits = end - i;
        if (digits == 0 || digits % 2 != 0 || (end < text.size() && !isSeparator(text[end])))
            return std::nullopt;
        for (; i < end; i += 2)
            bytes += static_cast<char>(digitValue(text[i]) * 16 + digitValue(text[i + 1]));
    }
    return bytes;
}
