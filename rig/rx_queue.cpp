#include "rig/rx_queue.h"

#include <algorithm>

namespace rig {

void RxQueue::add(const Transmission& t, uint64_t byteTimeUs)
{
    uint64_t at = t.startUs;
    std::deque<Byte> incoming;
    for (uint8_t b : t.bytes) {
        at += byteTimeUs;
        incoming.push_back({at, b});
    }
    // Keep arrival order when transmissions interleave in time.
    std::deque<Byte> merged;
    std::merge(bytes_.begin(), bytes_.end(), incoming.begin(), incoming.end(), std::back_inserter(merged),
               [](const Byte& a, const Byte& b) { return a.arrivalUs < b.arrivalUs; });
    bytes_.swap(merged);
}

void RxQueue::purge(uint64_t nowUs)
{
    while (!bytes_.empty() && bytes_.front().arrivalUs <= nowUs)
        bytes_.pop_front();
}

size_t RxQueue::available(uint64_t nowUs) const
{
    size_t n = 0;
    while (n < bytes_.size() && bytes_[n].arrivalUs <= nowUs)
        ++n;
    return n;
}

bool RxQueue::nextArrival(uint64_t& atUs) const
{
    if (bytes_.empty())
        return false;
    atUs = bytes_.front().arrivalUs;
    return true;
}

size_t RxQueue::read(uint8_t* out, size_t count, uint64_t nowUs, uint64_t deadlineUs, uint64_t intervalUs,
                     uint64_t& endUs)
{
    size_t got = 0;
    uint64_t last = nowUs;
    while (got < count && !bytes_.empty()) {
        uint64_t at = std::max(bytes_.front().arrivalUs, nowUs);
        if (at > deadlineUs)
            break;
        if (got > 0 && intervalUs && at - last > intervalUs)
            break;
        out[got++] = bytes_.front().value;
        last = at;
        bytes_.pop_front();
    }
    if (got == count)
        endUs = last;
    else if (got == 0)
        endUs = deadlineUs;
    else
        endUs = intervalUs ? std::min(deadlineUs, last + intervalUs) : deadlineUs;
    return got;
}

} // namespace rig
