// One GET transaction against a rig responder over a pseudo-terminal, next to the
// fixed waits it must contain: 50 ms, then the read that ends 1 ms after the
// reply's last byte.
#include "bench_rig.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <vector>

int main()
{
    PtyHarness b;
    const Uid uid = 0x7FF000000001ull;
    b.line.add(uid, rig::LedParModel());
    ServeOrExit(b);
    const int runs = 40;
    std::vector<double> took;
    int acks = 0;
    for (int i = 0; i < runs; ++i) {
        double t0 = NowMs();
        acks += Transact(b.engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO) == TxAck;
        took.push_back(NowMs() - t0);
    }
    std::sort(took.begin(), took.end());
    double mean = 0;
    for (double t : took)
        mean += t / runs;
    const double fixed = 50.0 + 1.0;
    std::printf("GET DEVICE_INFO over a pseudo-terminal, %d runs, %d acknowledged\n", runs, acks);
    std::printf("  fixed waits          %7.3f ms (50 ms sleep + 1 ms read interval)\n", fixed);
    std::printf("  measured mean        %7.3f ms\n", mean);
    std::printf("  measured median      %7.3f ms\n", took[size_t(runs / 2)]);
    std::printf("  measured max         %7.3f ms\n", took.back());
    std::printf("  overhead (mean)      %7.3f ms\n", mean - fixed);
    return acks == runs ? 0 : 1;
}
