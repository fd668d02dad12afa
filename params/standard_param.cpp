#include "params/standard_param.h"

#include "rdm/pid_layouts.h"

#include <cctype>
#include <cstring>

namespace {

bool IsAcronym(const std::string& word)
{
    static const char* const kAcronyms[] = {"DMX", "RDM", "ID", "UID", "PID", "IP", "IPV4", "IPV6", "DHCP",
                                            "DNS", "LED", "RTC", "URL", "EUI", "MAC", "DNS", "TCP"};
    for (const char* a : kAcronyms)
        if (word == a)
            return true;
    return false;
}

// The layout's fields, fixed ones only, and whether a group follows.
size_t FixedFields(const char* layout, bool& grouped)
{
    grouped = layout && std::strchr(layout, '(') != nullptr;
    size_t n = 0;
    for (const char* at = layout; at && *at && *at != '(';) {
        while (*at == ' ')
            ++at;
        if (!*at || *at == '(')
            break;
        ++n;
        while (*at && *at != ' ')
            ++at;
    }
    return n;
}

} // namespace

std::string StandardParamName(const char* e120Name)
{
    std::string out, word;
    auto flush = [&] {
        if (word.empty())
            return;
        if (!out.empty())
            out += ' ';
        if (IsAcronym(word)) {
            out += word;
        } else {
            out += word[0];
            for (size_t i = 1; i < word.size(); ++i)
                out += char(std::tolower(static_cast<unsigned char>(word[i])));
        }
        word.clear();
    };
    for (const char* c = e120Name; *c; ++c) {
        if (*c == '_')
            flush();
        else
            word += *c;
    }
    flush();
    return out;
}

bool FillStandardDescription(uint16_t pid, RDMPARAMDESC& r)
{
    const PidLayout* layout = FindPidLayout(pid);
    if (!layout)
        return false;
    r.Clear();
    r.pid = pid;
    r.description = StandardParamName(layout->name);
    r.layout = layout->getReply ? layout->getReply : "";
    r.commandClass = layout->getRequest ? 0x01 : 0x00;
    // Edited in place only when the SET takes exactly the one field the GET gives.
    bool grouped = false;
    if (layout->setRequest && layout->getReply && std::strcmp(layout->setRequest, layout->getReply) == 0 &&
        FixedFields(layout->getReply, grouped) == 1 && !grouped)
        r.commandClass |= 0x02;
    r.pdlSize = kMaxParamPdl;
    return true;
}

bool StandardValueReadable(const RDMPARAMDESC& r)
{
    const PidLayout* layout = FindPidLayout(r.pid);
    // A GET that needs data (which sensor, which personality) is not asked without it.
    return layout && layout->getRequest && layout->getRequest[0] == '\0';
}

std::optional<std::string> StandardValueText(const RDMPARAMDESC& r)
{
    const auto fields = DecodeLayout(r.layout, r.byteValues, r.valueLength);
    if (!fields)
        return std::nullopt;
    if (fields->size() == 1 && (*fields)[0].repetition < 0)
        return (*fields)[0].value;
    std::string out;
    for (const PidField& f : *fields)
        out += (out.empty() ? "" : ", ") + f.name + ": " + f.value;
    return "[" + out + "]";
}

bool EncodeStandardValue(const RDMPARAMDESC& r, const std::string& text, std::vector<uint8_t>& data,
                         std::string& error)
{
    const PidLayout* layout = FindPidLayout(r.pid);
    if (!layout || !layout->setRequest) {
        error = "not settable";
        return false;
    }
    return EncodeLayout(layout->setRequest, {text}, data, error);
}
