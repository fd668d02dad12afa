#pragma once
// RDM messages as typed values: a request as a controller sends it, a response as
// a responder sends it, each with its encoding and decoding, and the check that
// tells whether a response answers a given request.
#include "rdm/rdm_defs.h"
#include "rdm/uid.h"

#include <cstddef>
#include <cstdint>

namespace rdm {

// The longest message on the wire: header, the most parameter data, checksum.
constexpr size_t kMaxMessageSize = kHeaderSize + kMaxPdl + 2;

// Parameter data: at most the 231 bytes E1.20 allows, held in place.
struct ParamData {
    uint8_t pdl = 0;
    uint8_t bytes[kMaxPdl] = {};

    // Declared so that `data = {1}` cannot pass for one byte of value 1.
    ParamData() = default;

    // Copies up to 231 bytes; returns false when `count` was more and was cut.
    bool assign(const uint8_t* data, size_t count);
    size_t size() const { return pdl; }
    bool empty() const { return pdl == 0; }
    const uint8_t* data() const { return bytes; }
    const uint8_t* begin() const { return bytes; }
    const uint8_t* end() const { return bytes + pdl; }
    uint8_t operator[](size_t at) const { return bytes[at]; }
    uint16_t be16(size_t at) const { return at + 2 <= pdl ? ReadBE16(bytes + at) : 0; }
    uint32_t be32(size_t at) const { return at + 4 <= pdl ? ReadBE32(bytes + at) : 0; }
};

// What a message carries whichever way it goes; byte 16 alone differs.
struct MessageFields {
    Uid destination = 0;
    Uid source = 0;
    uint8_t transaction = 0;
    uint8_t messageCount = 0;
    uint16_t subDevice = 0;
    uint8_t commandClass = 0;
    uint16_t pid = 0;
    ParamData data;
};

struct RdmRequest : MessageFields {
    uint8_t portId = 1;

    RdmRequest() { source = kOwnUid; }
    RdmRequest(Uid to, uint8_t cc, uint16_t parameter, const uint8_t* bytes = nullptr, size_t count = 0,
               uint16_t sub = 0)
    {
        destination = to;
        source = kOwnUid;
        subDevice = sub;
        commandClass = cc;
        pid = parameter;
        data.assign(bytes, count);
    }

    // A request to every device, or to every device of one manufacturer: nobody answers.
    bool broadcast() const { return UidDevice(destination) == 0xFFFFFFFFu; }
};

struct RdmResponse : MessageFields {
    uint8_t responseType = RESPONSE_TYPE_ACK;
};

// Both write the whole message with its checksum into `out` (room for
// kMaxMessageSize) and return its size.
size_t Encode(const RdmRequest& request, uint8_t* out);
size_t Encode(const RdmResponse& response, uint8_t* out);

// Why some bytes are not one message.
enum class DecodeError : uint8_t {
    None,
    NotStartCode,     // the first byte is not 0xCC
    BadSubStartCode,  // the second is not 0x01
    Incomplete,       // the message length claims more bytes than there are
    BadLength,        // a message length below 24, or one that disagrees with the PDL
    BadChecksum,
};

// Decodes the message that starts at `bytes[0]`; `size` (when not null) gets the
// bytes it takes with its checksum, once the length is known.
DecodeError Decode(const uint8_t* bytes, size_t count, RdmRequest& out, size_t* size = nullptr);
DecodeError Decode(const uint8_t* bytes, size_t count, RdmResponse& out, size_t* size = nullptr);

// Why a well-formed response is not the answer to a request.
enum class Mismatch : uint8_t {
    None,
    Destination,   // not addressed to the request's sender
    Source,        // not from the device asked
    Transaction,   // another transaction number
    CommandClass,  // not the request's command class plus one
    Pid,
    SubDevice,
    ResponseType,  // a response type E1.20 does not define
};

// Whether `response` answers `request`. A GET QUEUED_MESSAGE is answered with the
// queued message's own PID and command class, so those two are not held to it.
Mismatch Match(const RdmRequest& request, const RdmResponse& response);

// The check by name, for the detailed log.
const char* DecodeErrorText(DecodeError error);
const char* MismatchText(Mismatch mismatch);

// What a scan of received bytes for the answer to one request found.
struct ReplyScan {
    int at = -1;                 // where the answer starts, or -1
    size_t size = 0;             // its bytes with the checksum
    int candidates = 0;          // places that began as a message (both start codes)
    size_t passedOverEnd = 0;    // where the last whole message that was not the answer ended
};

// Looks through `count` received bytes for the answer to `request`, wherever its
// start code sits (noise, a break's 0x00 or another message may come first).
// `passOver`, when given, hears of every start code that did not begin the answer
// (`size` is that message's size when it was whole, else 0).
template <typename PassOver>
ReplyScan ScanForReply(const uint8_t* bytes, size_t count, const RdmRequest& request, RdmResponse& out,
                       PassOver&& passOver);
ReplyScan ScanForReply(const uint8_t* bytes, size_t count, const RdmRequest& request, RdmResponse& out);

template <typename PassOver>
ReplyScan ScanForReply(const uint8_t* bytes, size_t count, const RdmRequest& request, RdmResponse& out,
                       PassOver&& passOver)
{
    ReplyScan scan;
    size_t at = 0;
    while (at < count) {
        // A message begins with both start codes; a lone 0xCC is noise.
        if (bytes[at] != kStartCode || (at + 1 < count && bytes[at + 1] != kSubStartCode)) {
            ++at;
            continue;
        }
        ++scan.candidates;
        size_t size = 0;
        const DecodeError error = Decode(bytes + at, count - at, out, &size);
        if (error == DecodeError::None) {
            const Mismatch mismatch = Match(request, out);
            if (mismatch == Mismatch::None) {
                scan.at = int(at);
                scan.size = size;
                return scan;
            }
            passOver(bytes + at, size, DecodeError::None, mismatch);
            at += size;
            scan.passedOverEnd = at;
            continue;
        }
        passOver(bytes + at, size_t(0), error, Mismatch::None);
        ++at;
    }
    return scan;
}

} // namespace rdm
