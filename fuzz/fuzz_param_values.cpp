// Values typed into the parameter grid, and device descriptions that shape them.
#include "params/int_parse.h"
#include "params/param_desc.h"
#include "rdm/text_codec.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first bytes describe the parameter, as PARAMETER_DESCRIPTION would.
    uint8_t description[52] = {};
    std::memcpy(description, data, size < sizeof description ? size : sizeof description);
    RDMPARAMDESC r;
    FillFromParameterDescription(description, uint8_t(size < 231 ? size : 231), r);
    const std::string typed(reinterpret_cast<const char*>(data), size);
    int32_t value = 0;
    const int n = ElementCount(r);
    if (TryStrToInt(Utf8ToCp1251(Cp1251ToUtf8(typed)), value)) {
        for (int i = 0; i < n && i < 300; ++i)
            StoreElement(r, value, i);
    }
    try {
        StrToInt(typed);
    } catch (const ConvertError&) {
    }
    (void)FormatParamValue(r);
    for (int i = 0; i < n && i < 300; ++i)
        (void)FormatElement(r, i);
    return 0;
}
