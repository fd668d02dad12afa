// What a watched device answers: its sensors' definitions and values, its
// status messages, its lamp hours and state, over two rounds (the second
// compares with the first).
#include "engine_fixture.h"
#include "rdm/health_watch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzEngine f;
    f.start(data, size);
    HealthWatch watch(f.engine);
    watch.discover = false;
    watch.follow({0x7FF000000001ull});
    for (int round = 0; round < 2 && f.serial.left(); ++round)
        for (const HealthChange& c : watch.round())
            if (c.text.size() > 100000)
                __builtin_trap();
    for (const DeviceHealth& d : watch.devices()) {
        d.worstStatus();
        d.sensorOutOfRange();
    }
    return 0;
}
