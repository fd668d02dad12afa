#pragma once
// What waits in the controller's receive buffer: bytes with the moment each arrives.
#include "rig/virtual_line.h"

#include <deque>

namespace rig {

class RxQueue {
public:
    void add(const Transmission& t, uint64_t byteTimeUs = kByteTimeUs);
    // Drops what has arrived by `nowUs`; bytes still on their way stay.
    void purge(uint64_t nowUs);
    void clear() { bytes_.clear(); }
    size_t size() const { return bytes_.size(); }
    // Bytes that have arrived by `nowUs`.
    size_t available(uint64_t nowUs) const;
    // When the next byte arrives; false when nothing is on its way.
    bool nextArrival(uint64_t& atUs) const;

    // A read that returns with the whole count, at `deadlineUs`, or once more than
    // `intervalUs` pass between two bytes (0: no interval rule, as D2XX reads).
    // Returns the count and sets `endUs` to the moment the read returns.
    size_t read(uint8_t* out, size_t count, uint64_t nowUs, uint64_t deadlineUs, uint64_t intervalUs,
                uint64_t& endUs);

private:
    struct Byte {
        uint64_t arrivalUs;
        uint8_t value;
    };
    std::deque<Byte> bytes_;
};

} // namespace rig
