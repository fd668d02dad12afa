// One health round on 33 devices with three sensors each, on the paced rig over a
// pseudo-terminal with the fast exchange: the first round (a whole discovery and
// each device described once) and a steady round (an incremental discovery, each
// device's mute, status messages, three sensor readings and its hours), each next
// to its physical bound (the line time of every request and reply it needed).
// Then a device switched on between rounds, and how many rounds it took to list.
#include "bench_rig.h"
#include "rdm/health_watch.h"

namespace {

rig::ResponderModel WashWithThreeSensors()
{
    rig::ResponderModel m = rig::WashModel();
    m.sensors.push_back({0x05, 0x00, 0x00, 0, 6000, 800, 4000, "Fan", 2200, 5});
    return m;
}

double Round(PtyHarness& h, HealthWatch& watch, size_t& changes)
{
    h.line.clearRecords();
    const double t0 = NowMs();
    changes = watch.round().size();
    return NowMs() - t0;
}

} // namespace

int main()
{
    PtyHarness h;
    h.line.paced = true;
    for (uint32_t i = 0; i < 33; ++i)
        h.line.add(MakeUid(0x7FF0, 0x1000 + i * 0x3571), WashWithThreeSensors());
    ServeOrExit(h);
    h.engine.setFastExchange(true);
    HealthWatch watch(h.engine);
    size_t changes = 0;
    std::printf("health rounds on 33 devices, 3 sensors each, paced rig, fast exchange\n");
    for (const char* what : {"first round", "steady round", "steady round"}) {
        const double ms = Round(h, watch, changes);
        const Bounds b = BoundsOf(h.line, true);
        std::printf("  %-13s %7.1f ms  physical bound %7.1f ms  %4zu requests  %zu changes  %zu devices\n", what, ms,
                    b.physicalMs, b.requests, changes, watch.devices().size());
    }
    h.line.add(MakeUid(0x7FF0, 0x00ABCDEF), WashWithThreeSensors());
    const double ms = Round(h, watch, changes);
    std::printf("  a device switched on between rounds: listed in the next round (%.1f ms), %zu devices\n", ms,
                watch.devices().size());
    return 0;
}
