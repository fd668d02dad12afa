// What the rig makes of the bytes a controller writes: the pty's splitting into
// packets, the request decoder, and every responder (a model of each kind, with
// sub-devices) answering requests of any class, PID, sub-device and data. The
// input is a stream of chunks; a chunk's first byte says whether it is raw bytes
// for the splitter or a request built (with a right checksum) from its fields.
#include "rdm/message.h"
#include "rig/fixtures.h"
#include "rig/pty_line.h"
#include "rig/virtual_line.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VirtualClock clock;
    rig::VirtualLine line(clock);
    const rig::ResponderModel models[] = {rig::MovingHeadModel(), rig::DimmerPackModel(), rig::SpotModel(),
                                          rig::WashModel(), rig::DimmerRackModel(), rig::FoggerModel()};
    for (size_t i = 0; i < std::size(models); ++i)
        line.add(MakeUid(0x7FF0, uint32_t(i + 1)), models[i]);
    rig::PtyLine::Splitter splitter;
    size_t at = 0;
    uint64_t now = 0;
    auto send = [&](const std::vector<uint8_t>& packet) {
        now += 1000;
        clock.sleepUs(1000);
        line.transmit(packet.data(), packet.size(), now, true);
    };
    while (at + 2 <= size) {
        const uint8_t kind = data[at];
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        const uint8_t* chunk = data + at + 2;
        at += 2 + length;
        if (kind & 1) {
            for (const auto& packet : splitter.feed(chunk, length))
                send(packet);
            if (kind & 2)
                send(splitter.idle());
            continue;
        }
        if (length < 5)
            continue;
        // Device (one of the six, all, or all of the maker's), class, PID, sub-device, data.
        static const uint8_t kClasses[] = {rdm::DISCOVERY_COMMAND, rdm::GET_COMMAND, rdm::SET_COMMAND, 0x55};
        const Uid to = chunk[0] % 8 < 6 ? MakeUid(0x7FF0, uint32_t(chunk[0] % 8 + 1))
                                        : chunk[0] % 8 == 6 ? kBroadcastUid : MakeUid(0x7FF0, 0xFFFFFFFF);
        const rdm::RdmRequest request(to, kClasses[kind >> 1 & 3], uint16_t(chunk[1] << 8 | chunk[2]), chunk + 5,
                                      std::min<size_t>(length - 5, rdm::kMaxPdl), uint16_t(chunk[3] << 8 | chunk[4]));
        uint8_t bytes[rdm::kMaxMessageSize];
        const size_t n = rdm::Encode(request, bytes);
        send(std::vector<uint8_t>(bytes, bytes + n));
    }
    return 0;
}
