// RDM and DMX at the line's own pace: the rig paced over a pseudo-terminal (bytes
// at 250000 baud, breaks, each responder's turnaround). Each RDM run, with the
// fixed waits and with the fast exchange, is printed next to
//   - its physical bound: the line time of every request and reply it needed,
//     turnarounds included, and 2.8 ms for each request left unanswered;
//   - the fixed-wait bound: the sleeps and read time-outs of its requests
//     (50 ms + the read per transaction, 20 ms + the read per branch, and the
//     discovery's two 50 ms pauses).
// Then a 33-device discovery while two threads keep the CPU busy, in both profiles,
// with the devices found; then 512-slot DMX frames at 23 and 32 ms periods, with
// the rate the rig got.
#include "bench_rig.h"
#include "dmx/dmx_output.h"
#include "params/param_read.h"
#include "rdm/discovery.h"
#include "rdm/line_timing.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

using namespace line_timing;


void Print(const char* what, bool fast, double wallMs, const Bounds& b, int repeat = 1)
{
    const double per = wallMs / repeat, physical = b.physicalMs / repeat, fixed = b.fixedMs / repeat;
    std::printf("  %-28s %-6s %4zu requests  %9.1f ms  physical %8.1f ms (x%5.2f)  fixed waits %9.1f ms (x%5.3f)\n",
                what, fast ? "fast" : "fixed", b.requests / size_t(repeat), per, physical, per / physical, fixed,
                per / fixed);
}

// One run on a fresh paced line over a pty, in the given profile.
void Measure(const char* what, bool fast, const std::function<void(rig::VirtualLine&)>& build,
             const std::function<int(PtyHarness&)>& run, bool discoveryRun, int repeat = 1)
{
    PtyHarness h;
    h.line.paced = true;
    build(h.line);
    ServeOrExit(h);
    h.engine.setFastExchange(fast);
    const double t0 = NowMs();
    for (int i = 0; i < repeat; ++i)
        run(h);
    Print(what, fast, NowMs() - t0, BoundsOf(h.line, discoveryRun), repeat);
}

int ReadAll(PtyHarness& h, Uid uid)
{
    static ParamTable table;
    ParamReadSink sink;
    sink.listed = [](int) {};
    sink.deviceInfo = [](const std::array<std::string, 9>*) {};
    sink.softwareVersionLabel = [](const std::string&) {};
    sink.row = [](int, const RDMPARAMDESC&, const std::string&) {};
    return ReadDeviceParameters(h.engine, uid, table, sink, RunControl{});
}

void Add33Devices(rig::VirtualLine& l)
{
    std::mt19937 random{33u};
    for (int i = 0; i < 33; ++i)
        l.add(MakeUid(0x7FF0, uint32_t(random())), rig::LedParModel());
}

// Discovery while `busy` threads spin, as other programs on a loaded machine do.
void DiscoveryUnderLoad(bool fast, int busy)
{
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int i = 0; i < busy; ++i)
        load.emplace_back([&stop] {
            volatile uint64_t spin = 0;
            while (!stop.load(std::memory_order_relaxed))
                spin = spin + 1;
        });
    int found = 0;
    uint32_t margin = 0;
    bool complete = false;
    Measure(fast ? "discovery, 33, loaded, tree" : "discovery, 33, loaded", fast, Add33Devices, [&](PtyHarness& h) {
        std::vector<Uid> list;
        Discovery discovery(h.engine, list, DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {},
                                                           [] { return 100; }});
        complete = discovery.Run().complete();
        margin = h.engine.lateMarginUs();
        found = int(list.size());
        return found;
    }, true);
    stop = true;
    for (auto& t : load)
        t.join();
    std::printf("    %d busy threads: found %d of 33, %s, late margin %u ms at the end\n", busy, found,
                complete ? "complete" : "NOT complete", margin / 1000);
}

void DmxAtLinePace(double seconds)
{
    PtyHarness h;
    h.line.paced = true;
    ServeOrExit(h);
    uint16_t size = 512;
    DmxOutput dmx(h.port, size);
    std::printf("DMX, 512 slots on the paced line (a frame takes %.2f ms), %.0f s per period\n",
                double(PacketUs(513)) / 1000.0, seconds);
    for (int period : {23, 32}) {
        const uint64_t before = h.line.frameCount();
        const double t0 = NowMs();
        dmx.DmxTimerStart(period);
        usleep(useconds_t(seconds * 1e6));
        dmx.DmxTimerStop();
        usleep(100000);  // the last frame reaches the rig
        const double ms = NowMs() - t0 - 100.0;
        const uint64_t got = h.line.frameCount() - before;
        // A frame that did not come in its period left a gap of two or more.
        const auto frames = h.line.frames();
        long skipped = 0;
        for (size_t i = frames.size() - size_t(got) + 1; i < frames.size(); ++i)
            skipped += std::max(0L, std::lround(double(frames[i].timeUs - frames[i - 1].timeUs) / 1000.0 / period) - 1);
        std::printf("  period %2d ms: %5.1f frames/s asked, %5.1f received, %ld frames skipped\n", period,
                    1000.0 / period, double(got) * 1000.0 / ms, skipped);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const double dmxSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    static constexpr Uid kUid = 0x7FF000000001ull;
    std::printf("RDM on the paced rig over a pseudo-terminal\n");
    for (bool fast : {false, true}) {
        Measure("GET DEVICE_INFO (x20)", fast, [](rig::VirtualLine& l) { l.add(kUid, rig::LedParModel()); },
                [](PtyHarness& h) {
                    return int(Transact(h.engine, kUid, rdm::GET_COMMAND, rdm::DEVICE_INFO));
                }, false, 20);
        for (int parameters : {9, 30}) {
            const std::string what = "Get, " + std::to_string(parameters) + " parameters";
            Measure(what.c_str(), fast, [parameters](rig::VirtualLine& l) { l.add(kUid, ModelWithParameters(parameters)); },
                    [](PtyHarness& h) { return ReadAll(h, kUid); }, false);
        }
        // The fixed waits halve as the window's search does; the fast exchange is
        // shown with both searches, the tree (its default) against the halving.
        for (int count : {1, 8, 33, 100})
            for (Discovery::Search search : {Discovery::Search::Halving, Discovery::Search::Tree}) {
                if (!fast && (search == Discovery::Search::Tree || count > 33))
                    continue;
                const std::string what = "discovery, " + std::to_string(count) +
                                         (search == Discovery::Search::Tree ? ", tree" : ", halving");
                int found = 0;
                Measure(what.c_str(), fast, [count](rig::VirtualLine& l) {
                    std::mt19937 random{uint32_t(count)};
                    for (int i = 0; i < count; ++i)
                        l.add(MakeUid(0x7FF0, uint32_t(random())), rig::LedParModel());
                }, [&found, search](PtyHarness& h) {
                    std::vector<Uid> list;
                    Discovery discovery(h.engine, list, DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {},
                                                                       [] { return 100; }});
                    discovery.search = search;
                    discovery.Run();
                    found = int(list.size());
                    return found;
                }, true);
                if (found != count)
                    std::printf("    found only %d of %d\n", found, count);
            }
    }
    std::printf("Discovery under load (%u cores)\n", std::thread::hardware_concurrency());
    for (bool fast : {false, true})
        DiscoveryUnderLoad(fast, 2);
    DmxAtLinePace(dmxSeconds);
    return 0;
}
