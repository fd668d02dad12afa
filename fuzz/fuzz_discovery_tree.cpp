// Discovery on a line whose answers the fuzzer writes: branch replies clean,
// garbled, colliding, out of range or late; mutes acknowledged or not. Both
// searches, in both profiles, until the script runs out.
#include "engine_fixture.h"
#include "rdm/discovery.h"
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzEngine f;
    const bool tree = size > 1 && (data[1] & 1);
    f.start(data, size);
    std::vector<Uid> found;
    // The run ends when the script is spent and a few more requests went unanswered.
    int spentAt = -1;
    Discovery discovery(f.engine, found,
                        DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {}, [] { return 100; },
                                       [&] {
                                           if (spentAt < 0 && !f.serial.left())
                                               spentAt = f.serial.requests;
                                           return (spentAt >= 0 && f.serial.requests > spentAt + 40) ||
                                                  f.serial.requests > 4000;
                                       }});
    discovery.search = tree ? Discovery::Search::Tree : Discovery::Search::Halving;
    const DiscoveryVerdict v = discovery.Run();
    for (const Uid uid : found)
        if (!IsDeviceUid(uid)) {
            std::fprintf(stderr, "listed %012llx, which no device carries\n", static_cast<unsigned long long>(uid));
            __builtin_trap();
        }
    (void)v;
    return 0;
}
