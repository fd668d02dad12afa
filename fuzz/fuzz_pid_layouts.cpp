// Replies decoded by the standard PIDs' layouts: the first two bytes pick the PID
// and the direction, the rest is the parameter data a device sent. Whatever
// decodes must encode again to the same bytes.
#include "rdm/pid_layouts.h"

#include <cstdlib>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t count = size_t(std::distance(PidLayoutsBegin(), PidLayoutsEnd()));
    const PidLayout& l = PidLayoutsBegin()[data[0] % count];
    const char* layouts[] = {l.getRequest, l.getReply, l.setRequest, l.setReply};
    const char* layout = layouts[data[1] % 4];
    if (!layout)
        return 0;
    const auto fields = DecodeLayout(layout, data + 2, size - 2);
    if (!fields)
        return 0;
    std::vector<std::string> values;
    for (const PidField& f : *fields)
        values.push_back(f.value);
    std::vector<uint8_t> again;
    std::string error;
    // Text is cut at its first NUL, so only NUL-free data comes back byte for byte.
    bool hasNul = false;
    for (size_t i = 2; i < size; ++i)
        hasNul = hasNul || data[i] == 0;
    if (EncodeLayout(layout, values, again, error)) {
        if (!hasNul && (again.size() != size - 2 || !std::equal(again.begin(), again.end(), data + 2)))
            std::abort();
    }
    return 0;
}
