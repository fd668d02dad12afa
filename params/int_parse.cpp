#include "params/int_parse.h"

bool TryStrToInt(const std::string& text, int32_t& value)
{
    size_t i = 0, end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == end)
        return false;
    int64_t v = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    value = int32_t(v);
    return true;
}

int32_t StrToInt(const std::string& text)
{
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw ConvertError("'" + text + "' is not a valid integer value");
    return value;
}
