// Discovery over a pseudo-terminal with 1, 8 and 33 devices of one manufacturer:
// requests sent, wall time, and the lower bound that the algorithm's fixed waits
// and read time-outs impose for that same sequence of requests.
#include "bench_rig.h"
#include "rdm/discovery.h"
#include "rig/fixtures.h"

#include <random>

int main()
{
    std::printf("Discovery over a pseudo-terminal\n");
    for (int count : {1, 8, 33}) {
        PtyHarness b;
        std::mt19937 random{uint32_t(count)};
        for (int i = 0; i < count; ++i)
            b.line.add(MakeUid(0x7FF0, uint32_t(random())), rig::LedParModel());
        ServeOrExit(b);
        DeviceTable table;
        int rows = 0;
        Discovery discovery(b.engine, table,
                            DiscoveryHooks{[] {}, [] {}, [] {}, [&](Uid) { ++rows; }, [] { return 100; }});
        const double t0 = NowMs();
        discovery.Run();
        const double wall = NowMs() - t0;

        // The bound: 50 ms before and after the un-mute, 20 ms after each branch and
        // its read (41 ms when silent, 1 ms past the reply otherwise), 51 ms a mute.
        const auto requests = b.line.requests();
        const auto replies = b.line.replies();
        int branches = 0, silent = 0, mutes = 0;
        double bound = 50.0 + 50.0 + 50.0;
        for (size_t i = 0; i < requests.size(); ++i) {
            const rig::Request& q = requests[i].decoded;
            if (q.pid == rdm::DISC_UNIQUE_BRANCH) {
                ++branches;
                const uint64_t from = requests[i].timeUs;
                const uint64_t to = i + 1 < requests.size() ? requests[i + 1].timeUs : UINT64_MAX;
                bool answered = false;
                for (const auto& r : replies)
                    answered = answered || (r.timeUs >= from && r.timeUs < to);
                silent += !answered;
                bound += 20.0 + (answered ? 1.0 : 41.0);
            } else if (q.pid == rdm::DISC_MUTE) {
                ++mutes;
                bound += 51.0;
            }
        }
        std::printf("  %2d devices: found %2d, %4d branch requests (%d silent), %2d mutes, wall %8.1f ms, "
                    "bound %8.1f ms, overhead %+.2f %%\n",
                    count, rows, branches, silent, mutes, wall, bound, (wall - bound) / bound * 100.0);
    }
    return 0;
}
