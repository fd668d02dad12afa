#pragma once
// The Enttec USB Pro's framed messages: 0x7E, label, 16-bit length (low byte
// first), data, 0xE7. Building outgoing messages and unwrapping the replies is the
// widget protocol; the port underneath only moves bytes.
#include <cstddef>
#include <cstdint>

class InterfacePort;

namespace widget {

constexpr uint8_t kStart = 0x7E;
constexpr uint8_t kEnd = 0xE7;
constexpr uint8_t kLabelReceivedPacket = 5;
constexpr uint8_t kLabelSendDmx = 6;
constexpr uint8_t kLabelSendRdm = 7;
constexpr uint8_t kLabelSendRdmDiscovery = 11;
constexpr uint8_t kLabelRdmTimeout = 12;
constexpr size_t kMaxData = 600;  // the widget's own limit for one message
constexpr size_t kOverhead = 5;

// Writes the message into `out` (room for count + 5 bytes); returns its length.
size_t build(uint8_t label, const uint8_t* data, size_t count, uint8_t* out);

struct Message {
    uint8_t label = 0;
    const uint8_t* data = nullptr;  // points into the parsed bytes
    size_t length = 0;
};

// The one reader of the widget's framing, a byte at a time: it hunts for the start
// delimiter, takes the label and the length, gathers the data and checks the end
// delimiter. A length over the widget's limit is no header: its delimiter is
// dropped and the bytes after it are hunted through again.
class Parser {
public:
    enum class Event { None, Message, Malformed };
    Event feed(uint8_t byte);
    // After Message: the message, valid until the next feed.
    Message message() const { return {label_, data_, length_}; }
    // Bytes that complete the part being read: 1 while hunting, the label and the
    // length (3), or the rest of the data with the end delimiter.
    size_t wanted() const;
    bool hunting() const { return state_ == State::Hunting; }
    void reset() { state_ = State::Hunting; }

private:
    enum class State { Hunting, Label, LengthLow, LengthHigh, Data, End };
    State state_ = State::Hunting;
    uint8_t label_ = 0, lengthLow_ = 0;
    size_t length_ = 0, got_ = 0;
    uint8_t data_[kMaxData];
};

enum class ParseResult {
    Complete,    // `message` holds the first message
    Incomplete,  // no whole message yet: keep the bytes from `consumed` on and wait for more
    Malformed,   // a delimiter that starts no valid message: drop `consumed` bytes and go on
};

// Finds the first message in `in`; bytes before its start delimiter are noise.
// `consumed` is how many bytes the result accounts for.
ParseResult parse(const uint8_t* in, size_t size, Message& message, size_t& consumed);

} // namespace widget

// Reads the widget's answer to one request and hands back the received line bytes,
// without the widget's framing and the received-packet status byte: an RDM reply
// then starts with its start code, a discovery reply with its preamble.
class WidgetReplyReader {
public:
    // Count of line bytes placed in `out` (at most `capacity`); 0 when the widget
    // reported nothing received or sent nothing usable; -1 on a port read error.
    // `answered`, when given, tells whether the widget's answer (a packet or its
    // time-out report) came.
    int read(InterfacePort& port, uint8_t* out, int capacity, bool* answered = nullptr);

    // The same unwrapping over bytes already in memory (the fuzzers feed this).
    // `done`, when given, tells a finished answer (a packet, a time-out report, or
    // nothing usable) from bytes that do not hold one yet.
    static int unwrap(const uint8_t* in, size_t size, uint8_t* out, int capacity, bool* done = nullptr);

private:
    uint8_t message_[widget::kMaxData + 1];
};
