// Art-Net packets: whatever arrives on UDP port 6454 from anyone on the network.
#include "link/artnet_packets.h"

using namespace artnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PollReply reply;
    if (DecodePollReply(data, size, reply) && reply.ports.size() > 4)
        __builtin_trap();
    std::vector<uint16_t> addresses;
    if (DecodeTodRequest(data, size, addresses) && addresses.size() > 32)
        __builtin_trap();
    uint16_t portAddress = 0;
    uint8_t command = 0;
    DecodeTodControl(data, size, portAddress, command);
    TodData tod;
    if (DecodeTodData(data, size, tod)) {
        if (tod.uids.size() > kUidsPerBlock || tod.portAddress > kMaxPortAddress)
            __builtin_trap();
        // What was taken goes out again as it came, and a table takes it.
        TodData again;
        const std::vector<uint8_t> encoded = EncodeTodData(tod);
        if (!DecodeTodData(encoded.data(), encoded.size(), again) || again.uids != tod.uids)
            __builtin_trap();
        TodTable table(tod.portAddress);
        table.take(tod);
        if (table.uids().size() > tod.uids.size())
            __builtin_trap();
    }
    const uint8_t* bytes = nullptr;
    size_t count = 0;
    if (DecodeRdm(data, size, portAddress, bytes, count) && (bytes < data || bytes + count > data + size))
        __builtin_trap();
    uint8_t sequence = 0;
    if (DecodeDmx(data, size, portAddress, sequence, bytes, count) &&
        (count > 512 || bytes < data || bytes + count > data + size))
        __builtin_trap();
    return 0;
}
