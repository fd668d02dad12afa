#include "app/cli_fields.h"

#include "rdm/text_codec.h"
#include "rdm/e120_names.h"

#include <cstdlib>

namespace {

const char* CodeName(const PidField& f)
{
    if (f.kind != PidField::Kind::Number)
        return nullptr;
    return CodeNameForField(f.name.c_str(), uint32_t(std::strtoul(f.value.c_str(), nullptr, 10)));
}

void AddField(JsonObject& o, const PidField& f)
{
    o.add(f.name, FieldCell(f));
    if (const char* name = CodeName(f))
        o.add(f.name + "_name", Cell(name));
}

} // namespace

void SignLimitsByDataType(std::vector<PidField>& fields)
{
    bool isSigned = false;
    for (const PidField& f : fields)
        if (f.name == "data_type")
            isSigned = f.value == "4" || f.value == "6" || f.value == "8";  // signed byte, word, double word
    if (!isSigned)
        return;
    for (PidField& f : fields)
        if (f.name == "min_value" || f.name == "max_value" || f.name == "default_value")
            f.value = std::to_string(int32_t(uint32_t(std::strtoul(f.value.c_str(), nullptr, 10))));
}

Cell FieldCell(const PidField& f)
{
    switch (f.kind) {
    case PidField::Kind::Number: return Cell::numberText(f.value);
    case PidField::Kind::Flag: return Cell::flag(f.value == "on");
    case PidField::Kind::Text: break;
    }
    return Cell(Cp1251ToUtf8(f.value));
}

std::string FieldText(const PidField& f)
{
    const char* name = CodeName(f);
    return FieldCell(f).plain() + (name ? " (" + std::string(name) + ")" : "");
}

std::string FieldsJson(const std::vector<PidField>& fields)
{
    JsonObject o;
    size_t i = 0;
    for (; i < fields.size() && fields[i].repetition < 0; ++i)
        AddField(o, fields[i]);
    if (i == fields.size())
        return o.text();
    // The group's size: the fields of its first repetition.
    size_t width = 0;
    while (i + width < fields.size() && fields[i + width].repetition == 0)
        ++width;
    std::vector<std::string> items;
    for (size_t at = i; at < fields.size(); at += width) {
        if (width == 1) {
            items.push_back(FieldCell(fields[at]).json());
            continue;
        }
        JsonObject item;
        for (size_t k = at; k < at + width && k < fields.size(); ++k)
            AddField(item, fields[k]);
        items.push_back(item.text());
    }
    o.addRaw(width == 1 ? fields[i].name : "items", JsonArray(items));
    return o.text();
}
