#include "rdm/pid_layouts.h"

#include "rdm/pid_names.h"
#include "rdm/uid.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace {

constexpr size_t kMaxText = 32;

enum class Type { U8, U16, U32, S8, S16, S32, Bool, Uid, Pid, Lang, Text, Hex };

struct Field {
    std::string name;
    Type type;
};

struct Parsed {
    std::vector<Field> fixed;
    std::vector<Field> group;  // repeated after the fixed fields, to the end
};

bool TypeOf(const std::string& text, Type& type)
{
    static const std::pair<const char*, Type> kTypes[] = {
        {"u8", Type::U8},     {"u16", Type::U16}, {"u32", Type::U32},   {"s8", Type::S8},     {"s16", Type::S16},
        {"s32", Type::S32},   {"bool", Type::Bool},
        {"uid", Type::Uid},   {"pid", Type::Pid}, {"lang", Type::Lang}, {"text", Type::Text}, {"hex", Type::Hex},
    };
    for (const auto& [name, t] : kTypes)
        if (text == name) {
            type = t;
            return true;
        }
    return false;
}

Parsed Parse(const char* layout)
{
    Parsed p;
    std::istringstream in(layout ? layout : "");
    std::string token;
    bool inGroup = false;
    while (in >> token) {
        if (token[0] == '(') {
            inGroup = true;
            token.erase(0, 1);
        }
        bool ends = false;
        if (token.size() >= 2 && token.compare(token.size() - 2, 2, ")*") == 0) {
            ends = true;
            token.resize(token.size() - 2);
        }
        const size_t colon = token.find(':');
        Field f{token.substr(0, colon), Type::Hex};
        TypeOf(token.substr(colon + 1), f.type);
        (inGroup ? p.group : p.fixed).push_back(f);
        if (ends)
            inGroup = false;
    }
    return p;
}

size_t WidthOf(Type t)
{
    switch (t) {
    case Type::U8:
    case Type::S8:
    case Type::Bool: return 1;
    case Type::U16:
    case Type::S16:
    case Type::Pid:
    case Type::Lang: return 2;
    case Type::U32:
    case Type::S32: return 4;
    case Type::Uid: return 6;
    case Type::Text:
    case Type::Hex: return 0;  // the rest
    }
    return 0;
}

uint64_t ReadBE(const uint8_t* b, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = (v << 8) | b[i];
    return v;
}

std::string Hex(const uint8_t* b, size_t n)
{
    std::string out;
    char h[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(h, sizeof h, "%02X", b[i]);
        out += h;
    }
    return out;
}

// One field from `b` (`n` bytes left); false when it does not fit.
bool DecodeField(const Field& f, const uint8_t* b, size_t n, size_t& used, std::string& value)
{
    const size_t width = WidthOf(f.type);
    used = width ? width : n;
    if (n < width)
        return false;
    char text[32];
    switch (f.type) {
    case Type::U8:
    case Type::U16:
    case Type::U32: value = std::to_string(ReadBE(b, width)); return true;
    case Type::S8: value = std::to_string(int8_t(b[0])); return true;
    case Type::S16: value = std::to_string(int16_t(uint16_t(ReadBE(b, 2)))); return true;
    case Type::S32: value = std::to_string(int32_t(uint32_t(ReadBE(b, 4)))); return true;
    case Type::Bool:
        if (b[0] > 1)
            return false;
        value = b[0] ? "on" : "off";
        return true;
    case Type::Pid: {
        const uint16_t pid = uint16_t(ReadBE(b, 2));
        std::snprintf(text, sizeof text, "0x%04X", unsigned(pid));
        value = text;
        return true;
    }
    case Type::Uid: value = UidColonText(ReadUid(b)); return true;
    case Type::Lang: value.assign(reinterpret_cast<const char*>(b), 2); return true;
    case Type::Text:
        if (n > kMaxText)
            return false;
        value.assign(reinterpret_cast<const char*>(b), n);
        // Devices pad labels with NULs; the text ends at the first.
        value.resize(std::min(value.size(), value.find('\0')));
        return true;
    case Type::Hex: value = Hex(b, n); return true;
    }
    return false;
}

PidField::Kind KindOf(Type t)
{
    switch (t) {
    case Type::U8:
    case Type::U16:
    case Type::U32:
    case Type::S8:
    case Type::S16:
    case Type::S32: return PidField::Kind::Number;
    case Type::Bool: return PidField::Kind::Flag;
    default: return PidField::Kind::Text;
    }
}

bool ParseNumber(const std::string& s, int64_t min, int64_t max, int64_t& v)
{
    if (s.empty())
        return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        first += 2;
        base = 16;
    }
    auto [end, ec] = std::from_chars(first, last, v, base);
    return ec == std::errc() && end == last && v >= min && v <= max;
}

bool ParseBool(std::string s, uint8_t& v)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (s == "on" || s == "true" || s == "1" || s == "yes")
        v = 1;
    else if (s == "off" || s == "false" || s == "0" || s == "no")
        v = 0;
    else
        return false;
    return true;
}

void PutBE(uint64_t v, size_t n, std::vector<uint8_t>& out)
{
    for (size_t i = n; i-- > 0;)
        out.push_back(uint8_t(v >> (8 * i)));
}

bool EncodeField(const Field& f, const std::string& s, std::vector<uint8_t>& out, std::string& error)
{
    int64_t v = 0;
    auto bad = [&](const char* what) {
        error = f.name + ": " + what + ", not \"" + s + "\"";
        return false;
    };
    switch (f.type) {
    case Type::U8:
        if (!ParseNumber(s, 0, 0xFF, v))
            return bad("a number 0..255");
        PutBE(uint64_t(v), 1, out);
        return true;
    case Type::U16:
        if (!ParseNumber(s, 0, 0xFFFF, v))
            return bad("a number 0..65535");
        PutBE(uint64_t(v), 2, out);
        return true;
    case Type::U32:
        if (!ParseNumber(s, 0, 0xFFFFFFFFll, v))
            return bad("a number 0..4294967295");
        PutBE(uint64_t(v), 4, out);
        return true;
    case Type::S8:
        if (!ParseNumber(s, -128, 127, v))
            return bad("a number -128..127");
        PutBE(uint64_t(uint8_t(int8_t(v))), 1, out);
        return true;
    case Type::S16:
        if (!ParseNumber(s, -32768, 32767, v))
            return bad("a number -32768..32767");
        PutBE(uint64_t(uint16_t(int16_t(v))), 2, out);
        return true;
    case Type::S32:
        if (!ParseNumber(s, INT32_MIN, INT32_MAX, v))
            return bad("a number -2147483648..2147483647");
        PutBE(uint64_t(uint32_t(int32_t(v))), 4, out);
        return true;
    case Type::Bool: {
        uint8_t b = 0;
        if (!ParseBool(s, b))
            return bad("on or off");
        out.push_back(b);
        return true;
    }
    case Type::Pid: {
        const std::optional<uint16_t> pid = ParsePid(s);
        if (!pid)
            return bad("a PID by name or number");
        PutBE(*pid, 2, out);
        return true;
    }
    case Type::Uid: {
        std::string hex;
        for (char c : s)
            if (c != ':')
                hex += c;
        uint64_t uid = 0;
        auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), uid, 16);
        if (hex.size() != 12 || ec != std::errc() || end != hex.data() + hex.size())
            return bad("a UID such as 7FF0:00000001");
        PutBE(uid, 6, out);
        return true;
    }
    case Type::Lang:
        if (s.size() != 2)
            return bad("two letters");
        out.insert(out.end(), s.begin(), s.end());
        return true;
    case Type::Text:
        if (s.size() > kMaxText)
            return bad("at most 32 characters");
        out.insert(out.end(), s.begin(), s.end());
        return true;
    case Type::Hex: {
        std::string digits;
        for (char c : s)
            if (!std::isspace(static_cast<unsigned char>(c)))
                digits += c;
        if (digits.size() % 2)
            return bad("hex bytes");
        for (size_t i = 0; i < digits.size(); i += 2) {
            uint8_t byte = 0;
            auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
            if (ec != std::errc() || end != digits.data() + i + 2)
                return bad("hex bytes");
            out.push_back(byte);
        }
        return true;
    }
    }
    return false;
}

} // namespace

// The discovery PIDs, which have no layout, come first in the table.
const PidLayout* PidLayoutsBegin()
{
    return std::find_if(PidTableBegin(), PidTableEnd(), [](const PidEntry& e) { return e.hasLayout(); });
}
const PidLayout* PidLayoutsEnd() { return PidTableEnd(); }

const PidLayout* FindPidLayout(uint16_t pid)
{
    const PidEntry* entry = FindPidEntry(pid);
    return entry && entry->hasLayout() ? entry : nullptr;
}

std::optional<std::vector<PidField>> DecodeLayout(const char* layout, const uint8_t* data, size_t size)
{
    const Parsed p = Parse(layout);
    std::vector<PidField> fields;
    size_t at = 0;
    auto take = [&](const Field& f, int repetition) {
        size_t used = 0;
        std::string value;
        if (!DecodeField(f, data + at, size - at, used, value))
            return false;
        at += used;
        fields.push_back({f.name, value, KindOf(f.type), repetition});
        return true;
    };
    for (const Field& f : p.fixed)
        if (!take(f, -1))
            return std::nullopt;
    for (int repetition = 0; !p.group.empty() && at < size; ++repetition)
        for (const Field& f : p.group)
            if (!take(f, repetition))
                return std::nullopt;
    if (at != size)
        return std::nullopt;
    return fields;
}

bool EncodeLayout(const char* layout, const std::vector<std::string>& values, std::vector<uint8_t>& out,
                  std::string& error)
{
    const Parsed p = Parse(layout);
    out.clear();
    size_t next = 0;
    for (const Field& f : p.fixed) {
        if (next == values.size()) {
            error = "missing value for " + f.name + " (" + LayoutSummary(layout) + ")";
            return false;
        }
        if (!EncodeField(f, values[next++], out, error))
            return false;
    }
    const size_t rest = values.size() - next;
    if (p.group.empty() ? rest != 0 : rest % p.group.size() != 0) {
        error = "expected " + LayoutSummary(layout) + ", got " + std::to_string(values.size()) + " values";
        return false;
    }
    while (next < values.size())
        for (const Field& f : p.group)
            if (!EncodeField(f, values[next++], out, error))
                return false;
    if (out.size() > 231) {
        error = "more data than one request carries (231 bytes)";
        return false;
    }
    return true;
}

std::string LayoutSummary(const char* layout)
{
    const Parsed p = Parse(layout);
    std::string out;
    for (const Field& f : p.fixed)
        out += (out.empty() ? "" : " ") + f.name;
    if (!p.group.empty()) {
        std::string group;
        for (const Field& f : p.group)
            group += (group.empty() ? "" : " ") + f.name;
        out += (out.empty() ? "(" : " (") + group + ")...";
    }
    return out.empty() ? "no values" : out;
}

LayoutNames LayoutFieldNames(const char* layout)
{
    const Parsed p = Parse(layout);
    LayoutNames names;
    for (const Field& f : p.fixed)
        names.fixed.push_back(f.name);
    for (const Field& f : p.group)
        names.group.push_back(f.name);
    return names;
}

bool ValidLayout(const std::string& layout)
{
    std::istringstream in(layout);
    std::string token;
    bool inGroup = false, grouped = false;
    while (in >> token) {
        if (grouped)
            return false;  // nothing follows the group
        if (token[0] == '(') {
            if (inGroup)
                return false;
            inGroup = true;
            token.erase(0, 1);
        }
        if (token.size() >= 2 && token.compare(token.size() - 2, 2, ")*") == 0) {
            if (!inGroup)
                return false;
            inGroup = false;
            grouped = true;
            token.resize(token.size() - 2);
        }
        const size_t colon = token.find(':');
        Type type;
        if (colon == 0 || colon == std::string::npos || !TypeOf(token.substr(colon + 1), type))
            return false;
    }
    return !inGroup;
}
