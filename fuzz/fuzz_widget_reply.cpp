// What an Enttec USB Pro sends back: framing, labels, lengths, the status byte.
#include "link/widget_message.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t out[200];
    int n = WidgetReplyReader::unwrap(data, size, out, int(sizeof out));
    if (n < 0 || n > int(sizeof out))
        __builtin_trap();
    return 0;
}
