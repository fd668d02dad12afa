// The RDM page's Get of one device with 9 and with 30 supported parameters over a
// pseudo-terminal, next to the fixed waits its requests imply (51 ms each when
// the reply is waiting).
#include "bench_rig.h"
#include "params/param_read.h"

int main()
{
    std::printf("Get of one device over a pseudo-terminal\n");
    for (int parameters : {9, 30}) {
        PtyHarness b;
        const Uid uid = 0x7FF000000001ull;
        b.line.add(uid, ModelWithParameters(parameters));
        ServeOrExit(b);
        static ParamTable table;
        const double t0 = NowMs();
        // The Get button's own reading, with nothing shown.
        ParamReadSink sink;
        sink.listed = [](int) {};
        sink.deviceInfo = [](const std::array<std::string, 9>*) {};
        sink.softwareVersionLabel = [](const std::string&) {};
        sink.row = [](int, const RDMPARAMDESC&, const std::string&) {};
        const int count = ReadDeviceParameters(b.engine, uid, table, sink, RunControl{});
        const double wall = NowMs() - t0;
        const size_t requests = b.line.requests().size();
        const double bound = double(requests) * 51.0;
        std::printf("  %2d parameters: %3zu requests, wall %8.1f ms, fixed waits %8.1f ms, overhead %+.2f %%\n",
                    count, requests, wall, bound, (wall - bound) / bound * 100.0);
    }
    return 0;
}
