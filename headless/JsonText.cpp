#include "headless/JsonText.h"

namespace {

// Length of the valid UTF-8 sequence that starts at i (1 to 4), or 0 when there is none.
size_t utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&text](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0xC2 || lead > 0xF4)
        return 0;
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    // The smallest code point that needs this many bytes; less is an overlong form.
    static constexpr unsigned kMin[] { 0, 0, 0x80, 0x800, 0x10000 };
    if (i + length > text.size())
        return 0;
    unsigned code = lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < kMin[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string jsonString(const std::string& text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const size_t length = utf8Length(text, i);
            json += length ? text.substr(i, length) : "\\ufffd";
            i += length ? length : 1;
            continue;
        }
        if (byte == '"' || byte == '\\')
            json += std::string("\\") + static_cast<char>(byte);
        else if (byte == '\n')
            json += "\\n";
        else if (byte == '\r')
            json += "\\r";
        else if (byte == '\t')
            json += "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            json += std::string("\\u00") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
        else
            json += static_cast<char>(byte);
        ++i;
    }
    return json + "\"";
}

std::string jsonStringOrNull(const std::string& text)
{
    return text.empty() ? "null" : jsonString(text);
}

std::string jsonNumberOrNull(const std::optional<int>& number)
{
    return number ? std::to_string(*number) : "null";
}

std::string jsonNumbers(const std::vector<int>& numbers)
{
    std::string json = "[";
    for (size_t i = 0; i < numbers.size(); ++i)
        json += (i ? ", " : "") + std::to_string(numbers[i]);
    return json + "]";
}
