// The fast exchange on a busy machine: 100 discoveries of the stock 8-device rig
// and 100 GETs of 10 parameters, each on a fresh engine as a vantrell-cli run
// starts, on the paced rig over a pseudo-terminal, with 0 and then 2 threads
// keeping the CPU busy. The rig's own thread runs as an ordinary user's does (no
// real-time scheduling). Prints the share of runs that failed (a device not
// found, a set-aside, a parameter unanswered), the mean and slowest run, and what
// the rules for a busy system cost: requests asked again, and time waited past
// the line's limits for the widened wait and for late replies, as a share of the
// runs' time. With BENCH_LOG set, a discovery that fails prints its log, the rig's
// replies and requests with their times, to see where it went wrong.
#include "bench_rig.h"
#include "rdm/discovery.h"
#include "rdm/parameter_exchange.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

constexpr int kRuns = 100;

struct Tally {
    int failed = 0;
    double totalMs = 0, slowestMs = 0;
    RdmEngine::WaitCosts costs;

    uint32_t growths = 0;

    void add(bool ok, double ms, const RdmEngine::WaitCosts& c, uint32_t grown)
    {
        growths += grown;
        failed += ok ? 0 : 1;
        totalMs += ms;
        slowestMs = std::max(slowestMs, ms);
        costs.repeats += c.repeats;
        costs.widenedUs += c.widenedUs;
        costs.listenedUs += c.listenedUs;
    }
    void print(const char* what, int busy) const
    {
        const double addedMs = double(costs.widenedUs + costs.listenedUs) / 1000.0;
        std::printf("  %-22s %d busy  failed %3d of %d  mean %7.1f ms  slowest %7.1f ms  wait grown %4u times  "
                    "asked again %4u  waited past the limits %7.1f ms (%.2f%%)\n",
                    what, busy, failed, kRuns, totalMs / kRuns, slowestMs, growths, costs.repeats, addedMs,
                    100.0 * addedMs / totalMs);
    }
};

rig::VirtualLine* gLine = nullptr;

void RunBoth(const std::string& path, const std::vector<Uid>& uids, int busy)
{
    std::atomic<bool> spinning{true};
    std::vector<std::thread> loads;
    for (int i = 0; i < busy; ++i)
        loads.emplace_back([&spinning] {
            volatile uint64_t n = 0;
            while (spinning.load(std::memory_order_relaxed))
                n = n + 1;
        });

    Tally discover;
    for (int run = 0; run < kRuns; ++run) {
        BenchClient c(path);
        std::vector<Uid> found;
        Discovery d(c.engine, found, DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {}, [] { return 10; }});
        gLine->clearRecords();
        c.log.detailedOn = getenv("BENCH_LOG") != nullptr;
        const double t0 = NowMs();
        const DiscoveryVerdict v = d.Run();
        const bool ok = v.complete() && found.size() == uids.size();
        discover.add(ok, NowMs() - t0, c.engine.waitCosts(), c.engine.lateMarginGrowths());
        if (!ok && getenv("BENCH_LOG")) {
            for (const std::string& line : c.log.lines)
                std::fprintf(stderr, "%s\n", line.c_str());
            for (const auto& r : gLine->replies())
                std::fprintf(stderr, "rig reply %llu: %zu bytes\n", (unsigned long long)r.timeUs, r.bytes.size());
            const auto requests = gLine->requests();
            for (size_t i = 0; i < requests.size(); ++i)
                std::fprintf(stderr, "rig %llu: %s pid %04X tn %u\n", (unsigned long long)requests[i].timeUs,
                             requests[i].whole ? "whole" : "MALFORMED", requests[i].decoded.pid,
                             requests[i].decoded.transaction);
        }
    }
    discover.print("discover, 8 devices", busy);

    const uint16_t pids[] = {rdm::DEVICE_INFO, rdm::DEVICE_LABEL, rdm::MANUFACTURER_LABEL,
                             rdm::DEVICE_MODEL_DESCRIPTION, rdm::SOFTWARE_VERSION_LABEL, rdm::DMX_START_ADDRESS,
                             rdm::DMX_PERSONALITY, rdm::IDENTIFY_DEVICE, rdm::SUPPORTED_PARAMETERS,
                             rdm::DMX_PERSONALITY_DESCRIPTION};
    Tally get;
    for (int run = 0; run < kRuns; ++run) {
        BenchClient c(path);
        const Uid uid = uids[size_t(run) % uids.size()];
        bool ok = true;
        const double t0 = NowMs();
        for (uint16_t pid : pids) {
            const uint8_t first = 1;
            const bool takesData = pid == rdm::DMX_PERSONALITY_DESCRIPTION;
            ok &= ExchangeParameter(c.engine, rdm::RdmRequest(uid, rdm::GET_COMMAND, pid, &first, takesData ? 1 : 0))
                      .result == TxAck;
        }
        get.add(ok, NowMs() - t0, c.engine.waitCosts(), c.engine.lateMarginGrowths());
    }
    get.print("get of 10 PIDs", busy);

    spinning.store(false);
    for (std::thread& t : loads)
        t.join();
}

} // namespace

int main()
{
    PtyHarness h;
    h.line.paced = true;
    h.pty.realTime = false;
    rig::AddStockDevices(h.line, 8);
    gLine = &h.line;
    std::vector<Uid> uids;
    for (auto& r : h.line.responders())
        uids.push_back(r->uid());
    std::string error;
    if (!h.pty.open("", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    h.pty.start();
    std::printf("The fast exchange on a busy machine, %d runs each, a fresh engine per run:\n", kRuns);
    std::fflush(stdout);
    for (int busy : {0, 2})
        RunBoth(h.pty.slavePath(), uids, busy);
    return 0;
}
