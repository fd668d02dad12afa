// Backing up and restoring 33 devices on the paced rig (bytes at 250000 baud,
// breaks, each responder's turnaround) over a pseudo-terminal, with the fast
// exchange, next to the physical bound of the requests each needed: the line time
// of every request and reply, turnarounds included. The restore runs twice: onto
// devices that lost two settings each, and onto devices that hold them all.
#include "bench_rig.h"
#include "patch/rig_backup.h"

#include <random>

namespace {

void Print(const char* what, double wallMs, const Bounds& b, size_t values)
{
    std::printf("  %-34s %5zu values %5zu requests  %8.1f ms  physical %8.1f ms (x%5.2f)\n", what, values,
                b.requests, wallMs, b.physicalMs, wallMs / b.physicalMs);
}

size_t Values(const std::vector<SavedDevice>& devices)
{
    size_t n = 0;
    for (const SavedDevice& d : devices)
        n += d.values.size();
    return n;
}

} // namespace

int main()
{
    std::printf("Backup and restore of 33 devices, paced line, fast exchange\n");
    PtyHarness h;
    h.line.paced = true;
    std::mt19937 random{33u};
    const rig::ResponderModel models[] = {rig::MovingHeadModel(), rig::DimmerPackModel(), rig::LedParModel()};
    std::vector<Uid> uids;
    std::vector<rig::Responder*> devices;
    for (int i = 0; i < 33; ++i) {
        uids.push_back(MakeUid(0x7FF0, uint32_t(random())));
        devices.push_back(&h.line.add(uids.back(), models[i % 3]));
    }
    ServeOrExit(h);
    h.engine.setFastExchange(true);

    BackupRun run;
    std::vector<SavedDevice> saved;
    double t0 = NowMs();
    for (const Uid uid : uids)
        saved.push_back(BackUpDevice(h.engine, uid, run));
    Print("backup", NowMs() - t0, BoundsOf(h.line, false), Values(saved));

    auto restore = [&](const char* what) {
        h.line.clearRecords();
        size_t matching = 0, steps = 0;
        const double start = NowMs();
        for (const SavedDevice& d : saved)
            for (const RestoreStep& s : RestoreDevice(h.engine, d, d.uid, false, false, run)) {
                matching += s.matches();
                ++steps;
            }
        Print(what, NowMs() - start, BoundsOf(h.line, false), steps);
        if (matching != steps)
            std::printf("    %zu of %zu values do not match\n", steps - matching, steps);
    };
    for (rig::Responder* d : devices) {
        d->startAddress = 400;
        d->deviceLabel = "moved";
    }
    restore("restore, two settings changed each");
    restore("restore, nothing changed");
    return 0;
}
