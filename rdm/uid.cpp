#include "rdm/uid.h"

#include <cstdio>

std::string Uid::logText() const
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(value_));
    return text;
}

std::string Uid::colonText() const
{
    char text[24];
    std::snprintf(text, sizeof text, "%04X:%08X", unsigned(manufacturer()), unsigned(device()));
    return text;
}

std::string Uid::listText() const
{
    char text[24];
    std::snprintf(text, sizeof text, "%04X%08X", unsigned(manufacturer()), unsigned(device()));
    return text;
}

std::optional<Uid> Uid::parse(std::string_view text)
{
    std::string digits;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // As the log prints it: leading zeros may be left out.
        text.remove_prefix(2);
        if (text.size() > 12)
            return std::nullopt;
        digits = std::string(12 - text.size(), '0');
        digits += text;
    } else if (text.size() == 13 && text[4] == ':') {
        digits = std::string(text.substr(0, 4)) + std::string(text.substr(5));
    } else if (text.size() == 12) {
        digits = std::string(text);
    } else {
        return std::nullopt;
    }
    uint64_t uid = 0;
    for (const char c : digits) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        if (v < 0)
            return std::nullopt;
        uid = (uid << 4) | uint64_t(v);
    }
    return Uid(uid);
}
