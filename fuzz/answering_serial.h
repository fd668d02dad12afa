#pragma once
// A serial line whose device answers every request with what the fuzzer chose:
// a reply built around the request (right UID, transaction number, PID and
// checksum), so that the bytes reach the decoders behind the checks, or raw
// bytes in place of a reply. The input is read as a stream of answers:
//   kind byte: bits 0-1 choose raw bytes (0) or a built reply (1-3), bits 2-4
//              its response type (0 ACK, 1 ACK_TIMER, 2 NACK, 3 ACK_OVERFLOW,
//              4..7 as they come), bit 5 no answer at all;
//   length byte, then that many bytes of data (or of the raw answer).
// A DISC_UNIQUE_BRANCH answered with a built reply gets a discovery reply: the
// UID in the first 6 data bytes, encoded, with bits 2-4 as its preamble length,
// and the data's 7th byte, when there is one, flipped into it at the 8th's place.
#include "rdm/discovery_reply.h"
#include "rig/responder.h"
#include "rig/virtual_line.h"
#include "scripted_serial.h"

class AnsweringSerial : public ScriptedSerial {
public:
    explicit AnsweringSerial(Clock& clock) : ScriptedSerial(clock) {}

    void feed(const uint8_t* data, size_t size)
    {
        reset();
        script_ = data;
        left_ = size;
        requests = 0;
    }
    size_t left() const { return left_; }
    int requests = 0;

    long write(int handle, const uint8_t* bytes, size_t count) override
    {
        const long n = ScriptedSerial::write(handle, bytes, count);
        ++requests;
        rig::Request request;
        if (left_ < 2 || !rig::DecodeRequest(bytes, count, request))
            return n;
        const uint8_t kind = take();
        size_t length = take();
        length = length < left_ ? length : left_;
        std::vector<uint8_t> data(script_, script_ + length);
        script_ += length;
        left_ -= length;
        if (kind & 0x20)
            return n;
        if ((kind & 3) == 0) {
            input.insert(input.end(), data.begin(), data.end());
            return n;
        }
        if (request.pid == rdm::DISC_UNIQUE_BRANCH) {
            Uid uid = 0;
            for (size_t i = 0; i < 6 && i < data.size(); ++i)
                uid = uid << 8 | data[i];
            std::vector<uint8_t> reply = rdm::EncodeDiscoveryReply(uid, (kind >> 2) & 7);
            if (data.size() >= 8)
                reply[data[7] % reply.size()] ^= data[6];
            input.insert(input.end(), reply.begin(), reply.end());
            return n;
        }
        static const uint8_t kTypes[8] = {rdm::RESPONSE_TYPE_ACK, rdm::RESPONSE_TYPE_ACK_TIMER,
                                          rdm::RESPONSE_TYPE_NACK_REASON, rdm::RESPONSE_TYPE_ACK_OVERFLOW,
                                          4, 0xFF, 0x80, rdm::RESPONSE_TYPE_ACK};
        if (data.size() > rdm::kMaxPdl)
            data.resize(rdm::kMaxPdl);
        const std::vector<uint8_t> reply = rig::BuildResponse(request, request.destination, kTypes[(kind >> 2) & 7], data);
        input.push_back(0x00);  // the responder's break, as a UART hands it on
        input.insert(input.end(), reply.begin(), reply.end());
        return n;
    }

private:
    uint8_t take()
    {
        --left_;
        return *script_++;
    }

    const uint8_t* script_ = nullptr;
    size_t left_ = 0;
};
