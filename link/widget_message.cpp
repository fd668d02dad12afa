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

Parser::Event Parser::feed(uint8_t byte)
{
    switch (state_) {
    case State::Hunting:
        if (byte == kStart)
            state_ = State::Label;
        return Event::None;  // anything before the delimiter is line noise
    case State::Label:
        label_ = byte;
        state_ = State::LengthLow;
        return Event::None;
    case State::LengthLow:
        lengthLow_ = byte;
        state_ = State::LengthHigh;
        return Event::None;
    case State::LengthHigh: {
        length_ = size_t(lengthLow_) | (size_t(byte) << 8);
        got_ = 0;
        if (length_ <= kMaxData) {
            state_ = length_ ? State::Data : State::End;
            return Event::None;
        }
        // Not a real header: resynchronise on a delimiter among its own bytes.
        const uint8_t header[3] = {label_, lengthLow_, byte};
        state_ = State::Hunting;
        for (const uint8_t b : header)
            feed(b);
        return Event::Malformed;
    }
    case State::Data:
        data_[got_++] = byte;
        if (got_ == length_)
            state_ = State::End;
        return Event::None;
    case State::End:
        state_ = State::Hunting;
        return byte == kEnd ? Event::Message : Event::Malformed;
    }
    return Event::None;
}

size_t Parser::wanted() const
{
    switch (state_) {
    case State::Label: return 3;
    case State::LengthLow: return 2;
    case State::LengthHigh: return 1;
    case State::Data: return length_ - got_ + 1;
    default: return 1;
    }
}

ParseResult parse(const uint8_t* in, size_t size, Message& message, size_t& consumed)
{
    Parser parser;
    size_t start = 0;  // where the message being read began
    for (size_t i = 0; i < size; ++i) {
        if (parser.hunting())
            start = i;
        switch (parser.feed(in[i])) {
        case Parser::Event::None: break;
        case Parser::Event::Malformed:
            // A bad header: resynchronise on the next delimiter; a bad end: after it.
            consumed = i + 1 - start <= 4 ? start + 1 : i + 1;
            return ParseResult::Malformed;
        case Parser::Event::Message:
            message = parser.message();
            message.data = in + i - message.length;  // the bytes in place, not the parser's copy
            consumed = i + 1;
            return ParseResult::Complete;
        }
    }
    consumed = parser.hunting() ? size : start;
    return ParseResult::Incomplete;
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
    widget::Parser parser;
    int messages = 0;
    for (;;) {
        // Each part is read whole, so that the port's time-outs apply as they were set.
        const int wanted = int(parser.wanted());
        const int n = port.PortRead(message_, wanted);
        if (n < 0)
            return -1;
        for (int i = 0; i < n; ++i) {
            const widget::Parser::Event event = parser.feed(message_[i]);
            if (event == widget::Parser::Event::None)
                continue;
            if (event == widget::Parser::Event::Message) {
                const widget::Message m = parser.message();
                bool done = false;
                const int count = deliver(m.label, m.data, m.length, out, capacity, done);
                if (done) {
                    if (answered)
                        *answered = true;
                    return count;
                }
            }
            if (++messages == kMaxMessagesPerReply)
                return 0;
        }
        if (n < wanted)
            return 0;  // the widget said no more in time
    }
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
