#include "rig/virtual_line.h"

#include "rdm/rdm_defs.h"
#include "rig/discovery_codec.h"

#include <map>

namespace rig {

bool DecodeRequest(const uint8_t* b, size_t count, Request& out)
{
    using namespace rdm;
    if (count < kHeaderSize + 2 || b[0] != kStartCode || b[1] != kSubStartCode)
        return false;
    const size_t length = b[kOffLength];
    if (length < kHeaderSize || count != length + 2 || b[kOffPdl] != length - kHeaderSize)
        return false;
    if (ReadBE16(b + length) != Checksum(b, length))
        return false;
    out.destination = ReadUid(b + kOffDestination);
    out.source = ReadUid(b + kOffSource);
    out.transaction = b[kOffTransaction];
    out.portId = b[kOffPortOrResponseType];
    out.subDevice = ReadBE16(b + kOffSubDevice);
    out.commandClass = b[kOffCommandClass];
    out.pid = ReadBE16(b + kOffPid);
    out.data.assign(b + kOffData, b + length);
    return true;
}

Responder& VirtualLine::add(Uid uid, ResponderModel model)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responders_.push_back(std::make_unique<Responder>(uid, std::move(model)));
    return *responders_.back();
}

Responder* VirtualLine::find(Uid uid)
{
    for (auto& r : responders_)
        if (r->uid() == uid)
            return r.get();
    return nullptr;
}

std::vector<Transmission> VirtualLine::transmit(const uint8_t* bytes, size_t count, uint64_t endUs, bool breakFramed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Transmission> out;
    if (count == 0)
        return out;
    const uint64_t startUs = endUs - count * kByteTimeUs;
    if (bytes[0] != rdm::kStartCode) {
        RecordedFrame frame;
        frame.timeUs = startUs;
        frame.startCode = bytes[0];
        frame.slotCount = int(count - 1);
        frame.levels.assign(bytes + 1, bytes + count);
        frames_.push_back(std::move(frame));
        return out;
    }
    RecordedRequest record;
    record.timeUs = startUs;
    record.bytes.assign(bytes, bytes + count);
    record.whole = DecodeRequest(bytes, count, record.decoded);
    requests_.push_back(record);
    if (onRequest)
        onRequest(record);
    if (!record.whole)
        return out;

    // Replies that start together overlap on the line; a late one comes on its own.
    std::map<uint32_t, std::vector<Reply>> byDelay;
    for (auto& r : responders_)
        if (auto reply = r->handle(record.decoded))
            byDelay[reply->delayMs].push_back(std::move(*reply));
    for (auto& [delayMs, group] : byDelay) {
        std::vector<std::vector<uint8_t>> parts;
        for (const Reply& r : group)
            parts.push_back(r.bytes);
        Transmission t;
        t.startUs = endUs + kTurnaroundUs + uint64_t(delayMs) * 1000;
        t.bytes = CollideReplies(parts);
        if (breakFramed && !group.front().discovery)
            t.bytes.insert(t.bytes.begin(), 0x00);
        replies_.push_back({t.startUs, t.bytes, group.size() > 1});
        if (onReply)
            onReply(replies_.back());
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<RecordedRequest> VirtualLine::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<RecordedFrame> VirtualLine::frames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<RecordedReply> VirtualLine::replies() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_;
}

void VirtualLine::clearRecords()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
    frames_.clear();
    replies_.clear();
}

} // namespace rig
