#include "rdm/described_layout.h"

#include <charconv>

namespace {

struct NumberType {
    const char* name;
    size_t width;
    bool isSigned;
};

// E1.20's data types of PARAMETER_DESCRIPTION; a bit field is read as an unsigned
// number of its size.
bool NumberTypeOf(uint8_t dataType, uint8_t pdlSize, NumberType& out)
{
    switch (dataType) {
    case 0x01:
        if (pdlSize == 1 || pdlSize == 2 || pdlSize == 4) {
            out = {pdlSize == 1 ? "u8" : pdlSize == 2 ? "u16" : "u32", pdlSize, false};
            return true;
        }
        return false;
    case 0x03: out = {"u8", 1, false}; return true;
    case 0x04: out = {"s8", 1, true}; return true;
    case 0x05: out = {"u16", 2, false}; return true;
    case 0x06: out = {"s16", 2, true}; return true;
    case 0x07: out = {"u32", 4, false}; return true;
    case 0x08: out = {"s32", 4, true}; return true;
    default: return false;
    }
}

// A limit of the description as the number it means for the type: signed types
// take the 32 bits as signed.
int64_t LimitValue(uint32_t raw, const NumberType& t)
{
    return t.isSigned ? int64_t(int32_t(raw)) : int64_t(raw);
}

} // namespace

DescribedLayout LayoutFromDescription(const rdm::ParameterDescription& d)
{
    DescribedLayout out;
    out.name = d.description;
    if (d.dataType == 0x02) {
        out.layout = "value:text";
        return out;
    }
    NumberType t{};
    if (!NumberTypeOf(d.dataType, d.pdlSize, t) || d.pdlSize < t.width || d.pdlSize % t.width) {
        out.layout = "data:hex";
        return out;
    }
    const std::string field = std::string("value:") + t.name;
    out.layout = d.pdlSize == t.width ? field : "(" + field + ")*";
    out.numeric = true;
    out.min = LimitValue(d.minValue, t);
    out.max = LimitValue(d.maxValue, t);
    out.limited = out.min < out.max || (out.min == out.max && out.min != 0);
    return out;
}

bool WithinDescribedLimits(const DescribedLayout& layout, const std::vector<std::string>& values, std::string& error)
{
    if (!layout.numeric || !layout.limited)
        return true;
    for (const std::string& text : values) {
        int64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size())
            continue;  // not a decimal number: the layout's own check names it
        if (v < layout.min || v > layout.max) {
            error = "value: " + std::to_string(layout.min) + ".." + std::to_string(layout.max) +
                    " by the device's description, not " + text;
            return false;
        }
    }
    return true;
}
