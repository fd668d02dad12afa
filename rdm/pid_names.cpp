#include "rdm/pid_names.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

bool SameName(std::string_view a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return i == a.size() && !b[i];
}

} // namespace

const PidName* PidNamesBegin() { return PidTableBegin(); }
const PidName* PidNamesEnd() { return PidTableEnd(); }

const PidName* FindPidName(uint16_t pid)
{
    return FindPidEntry(pid);
}

std::optional<uint16_t> ParsePid(std::string_view text)
{
    for (const PidName* entry = PidNamesBegin(); entry != PidNamesEnd(); ++entry)
        if (SameName(text, entry->name))
            return entry->pid;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF)
        return std::nullopt;
    return uint16_t(value);
}

std::string PidText(uint16_t pid)
{
    if (const PidName* n = FindPidName(pid))
        return n->name;
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(pid));
    return text;
}
