#include "rig/virtual_line.h"

#include "rdm/rdm_defs.h"
#include "rdm/line_timing.h"
#include "rig/collision.h"

#include <algorithm>
#include <climits>

#include <map>

namespace rig {

bool DecodeRequest(const uint8_t* b, size_t count, Request& out)
{
    // Exactly one message: a controller sends nothing after the checksum.
    size_t size = 0;
    return rdm::Decode(b, count, out, &size) == rdm::DecodeError::None && size == count;
}

Responder& VirtualLine::add(Uid uid, ResponderModel model)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responders_.push_back(std::make_unique<Responder>(uid, std::move(model)));
    return *responders_.back();
}

Responder& VirtualLine::addTwin(const Responder& of)
{
    Responder& twin = add(of.uid(), of.model());
    twin.faults = of.faults;
    twin.startAddress = of.startAddress;
    twin.personality = of.personality;
    twin.deviceLabel = of.deviceLabel;
    twin.turnaroundUs = of.turnaroundUs;
    twin.preambleLength = of.preambleLength == 7 ? 6 : of.preambleLength + 1;
    return twin;
}

Responder* VirtualLine::find(Uid uid)
{
    for (auto& r : responders_)
        if (r->uid() == uid)
            return r.get();
    return nullptr;
}

namespace {

template <typename T> void Bound(std::vector<T>& records, size_t limit)
{
    if (limit && records.size() > limit)
        records.erase(records.begin(), records.begin() + long(records.size() - limit / 2));
}

} // namespace

std::vector<Transmission> VirtualLine::transmit(const uint8_t* bytes, size_t count, uint64_t handedUs,
                                                bool breakFramed, uint64_t leadUs, uint64_t* packetEndUs)
{
    using namespace line_timing;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Transmission> out;
    if (count == 0)
        return out;
    const bool dmxFrame = bytes[0] != rdm::kStartCode;
    const uint64_t packetUs = kBreakUs + kMarkAfterBreakUs + count * kByteTimeUs;
    if (paced && dmxFrame && busyUntilUs_ > handedUs + packetUs) {
        ++framesDropped_;
        return out;
    }
    // Where the packet's first slot begins and its last one ends.
    uint64_t startUs = handedUs + leadUs;
    if (paced)
        startUs = std::max(handedUs, busyUntilUs_) + kBreakUs + kMarkAfterBreakUs;
    const uint64_t endUs = startUs + count * kByteTimeUs;
    if (paced)
        busyUntilUs_ = endUs;
    if (packetEndUs)
        *packetEndUs = endUs;
    if (bytes[0] != rdm::kStartCode) {
        RecordedFrame frame;
        frame.timeUs = startUs;
        frame.startCode = bytes[0];
        frame.slotCount = int(count - 1);
        frame.levels.assign(bytes + 1, bytes + count);
        frames_.push_back(std::move(frame));
        ++frameCount_;
        Bound(frames_, recordLimit);
        if (onFrame)
            onFrame(frames_.back());
        return out;
    }
    RecordedRequest record;
    record.timeUs = startUs;
    record.bytes.assign(bytes, bytes + count);
    record.whole = DecodeRequest(bytes, count, record.decoded);
    requests_.push_back(record);
    Bound(requests_, recordLimit);
    if (onRequest)
        onRequest(record);
    if (!record.whole)
        return out;

    // Replies that start together overlap on the line; a late one comes on its own.
    // Paced, the replies to one request overlap from the quickest responder's start.
    struct Group {
        std::vector<std::vector<uint8_t>> parts;
        uint64_t turnaroundUs = UINT64_MAX;
        bool discovery = false;
        uint8_t noiseBytes = 0;
    };
    std::map<uint32_t, Group> byDelay;
    for (auto& r : responders_)
        if (auto reply = r->handle(record.decoded)) {
            Group& g = byDelay[reply->delayMs];
            g.parts.push_back(std::move(reply->bytes));
            g.turnaroundUs = std::min<uint64_t>(g.turnaroundUs, paced ? r->turnaroundUs : kTurnaroundUs);
            g.discovery = reply->discovery;
            g.noiseBytes = std::max(g.noiseBytes, reply->noiseBytes);
        }
    for (auto& [delayMs, group] : byDelay) {
        Transmission t;
        t.startUs = endUs + group.turnaroundUs + uint64_t(delayMs) * 1000;
        t.bytes = CollideReplies(group.parts, combine);
        const bool withBreak = !group.discovery;
        if (breakFramed && withBreak) {
            t.bytes.insert(t.bytes.begin(), 0x00);
            // Noise reaches the UART as bytes of its own; a widget, which frames from
            // the break, never passes it on.
            static const uint8_t kNoise[] = {0x3C, 0xF0, 0xCC, 0x0F, 0xC3, 0x81};
            for (uint8_t i = 0; i < group.noiseBytes; ++i)
                t.bytes.insert(t.bytes.begin(), kNoise[i % sizeof kNoise]);
        }
        if (paced && withBreak) {
            // The responder's break and mark-after-break come first; a UART reports
            // the break as its 0x00 when the mark begins, just before the start code.
            t.startUs += kBreakUs + kMarkAfterBreakUs;
            if (breakFramed)
                t.startUs -= kByteTimeUs;
        }
        // A reply on time holds the line until it ends. A late one does not: the
        // controller, which has given up on it, sends its next packet anyway,
        // and the two meet on the line as they would on a real one.
        if (paced && delayMs == 0)
            busyUntilUs_ = std::max(busyUntilUs_, t.startUs + t.bytes.size() * kByteTimeUs);
        replies_.push_back({t.startUs, t.bytes, group.parts.size() > 1});
        if (onReply)
            onReply(replies_.back());
        Bound(replies_, recordLimit);
        out.push_back(std::move(t));
    }
    if (noise.everyUs) {
        // Noise for a while ahead: the read windows of this request and the next.
        constexpr uint64_t kNoiseAheadUs = 80000;
        std::vector<std::pair<uint64_t, uint64_t>> busy{{startUs - kBreakUs - kMarkAfterBreakUs, endUs}};
        uint64_t lastUs = endUs;
        for (const Transmission& t : out) {
            busy.emplace_back(t.startUs, t.startUs + t.bytes.size() * kByteTimeUs);
            lastUs = std::max(lastUs, busy.back().second);
        }
        addNoise(startUs, lastUs + kNoiseAheadUs, busy, out);
    }
    return out;
}

void VirtualLine::addNoise(uint64_t fromUs, uint64_t untilUs, const std::vector<std::pair<uint64_t, uint64_t>>& busy,
                           std::vector<Transmission>& out)
{
    auto gap = [this] {
        return uint64_t(std::uniform_int_distribution<uint32_t>(noise.everyUs / 2, noise.everyUs * 3 / 2)(noiseRandom_));
    };
    if (noiseNextUs_ == 0) {
        noiseRandom_.seed(noise.seed);
        noiseNextUs_ = fromUs + gap();
    }
    for (; noiseNextUs_ <= untilUs; noiseNextUs_ += std::max<uint64_t>(gap(), 1)) {
        if (noiseNextUs_ < fromUs)
            continue;  // while the line was idle: gone with the controller's purge
        Transmission burst;
        burst.noise = true;
        burst.startUs = noiseNextUs_;
        const int size = std::uniform_int_distribution<int>(1, std::max<int>(1, noise.maxBytes))(noiseRandom_);
        const uint64_t endUs = burst.startUs + uint64_t(size) * kByteTimeUs;
        // Between messages, never over one.
        if (std::any_of(busy.begin(), busy.end(), [&](const auto& span) {
                return burst.startUs < span.second && span.first < endUs;
            }))
            continue;
        for (int i = 0; i < size; ++i)
            burst.bytes.push_back(uint8_t(noiseRandom_()));
        out.push_back(std::move(burst));
    }
}

void VirtualLine::setPowered(Responder& responder, bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responder.setPowered(on);
}

void VirtualLine::applyPowerCycles(uint64_t elapsedMs, const std::function<void(const Responder&)>& changed)
{
    for (const auto& r : responders_) {
        if (r->powerOffForMs == 0)
            continue;
        const bool on = elapsedMs < r->powerOffAtMs || elapsedMs >= uint64_t(r->powerOffAtMs) + r->powerOffForMs;
        if (on == r->powered)
            continue;
        setPowered(*r, on);
        if (changed)
            changed(*r);
    }
}

uint64_t VirtualLine::framesDropped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return framesDropped_;
}

uint64_t VirtualLine::frameCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frameCount_;
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
    frameCount_ = 0;
}

} // namespace rig
