#include "link/widget_message.h"

#include "link/interface_port.h"

#include <cstring>

namespace widget {

size_t build(uint8_t label, const uint8_t* data, size_t count, uint8_t* out)
{
    out[0] = kStart;
    out[1] = label;
    out[2] = uint8_t(count & 0xFF);
    out[3] = uint8_t((count >> 8) & 0xFF);
    if (count)
        std::memcpy(out + 4, data, count);
    out[4 + count] = kEnd;
    return count + kOverhead;
}

ParseResult parse(const uint8_t* in, size_t size, Message& message, size_t& consumed)
{
    size_t start = 0;
    while (start < size && in[start] != kStart)
        ++start;
    consumed = start;
    if (start + 4 > size)
        return ParseResult::Incomplete;
    const size_t length = size_t(in[start + 2]) | (size_t(in[start + 3]) << 8);
    if (length > kMaxData) {
        consumed = start + 1;  // not a real header: resynchronise on the next delimiter
        return ParseResult::Malformed;
    }
    if (start + length + kOverhead > size)
        return ParseResult::Incomplete;
    consumed = start + length + kOverhead;
    if (in[start + 4 + length] != kEnd)
        return ParseResult::Malformed;
    message.label = in[start + 1];
    message.data = in + start + 4;
    message.length = length;
    return ParseResult::Complete;
}

} // namespace widget

namespace {

// Messages other than a received packet or a time-out (change-of-state reports and
// the like) are skipped; a few of them at most before giving up.
constexpr int kMaxMessagesPerReply = 4;

int deliver(uint8_t label, const uint8_t* data, size_t length, uint8_t* out, int capacity, bool& done)
{
    done = true;
    if (label == widget::kLabelReceivedPacket) {
        if (length < 1)
            return 0;
        size_t n = length - 1;
        if (n > size_t(capacity))
            n = size_t(capacity);
        std::memcpy(out, data + 1, n);
        return int(n);
    }
    if (label == widget::kLabelRdmTimeout)
        return 0;
    done = false;
    return 0;
}

} // namespace

int WidgetReplyReader::read(InterfacePort& port, uint8_t* out, int capacity, bool* answered)
{
    if (answered)
        *answered = false;
    for (int message = 0; message < kMaxMessagesPerReply; ++message) {
        uint8_t byte = 0;
        // Find the start delimiter; anything before it is line noise.
        for (;;) {
            int n = port.PortRead(&byte, 1);
            if (n < 0)
                return -1;
            if (n == 0)
                return 0;
            if (byte == widget::kStart)
                break;
        }
        uint8_t header[3];
        int n = port.PortRead(header, 3);
        if (n < 0)
            return -1;
        if (n < 3)
            return 0;
        size_t length = size_t(header[1]) | (size_t(header[2]) << 8);
        if (length > widget::kMaxData)
            continue;  // not a real header: resynchronise on the next delimiter
        n = port.PortRead(message_, int(length + 1));
        if (n < 0)
            return -1;
        if (size_t(n) < length + 1 || message_[length] != widget::kEnd)
            return 0;
        bool done = false;
        int count = deliver(header[0], message_, length, out, capacity, done);
        if (done) {
            if (answered)
                *answered = true;
            return count;
        }
    }
    return 0;
}

int WidgetReplyReader::unwrap(const uint8_t* in, size_t size, uint8_t* out, int capacity, bool* finished)
{
    if (finished)
        *finished = true;
    size_t pos = 0;
    for (int message = 0; message < kMaxMessagesPerReply; ++message) {
        widget::Message m;
        size_t consumed = 0;
        const widget::ParseResult r = widget::parse(in + pos, size - pos, m, consumed);
        if (r == widget::ParseResult::Incomplete) {
            if (finished)
                *finished = false;
            return 0;
        }
        pos += consumed;
        if (r == widget::ParseResult::Malformed)
            continue;
        bool done = false;
        int count = deliver(m.label, m.data, m.length, out, capacity, done);
        if (done)
            return count;
    }
    return 0;
}
