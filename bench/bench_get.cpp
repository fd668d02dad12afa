// The RDM page's Get of one device with 9 and with 30 supported parameters over a
// pseudo-terminal, next to the fixed waits its requests imply (51 ms each when
// the reply is waiting).
#include "bench_rig.h"
#include "params/param_edit.h"
#include "params/param_transfer.h"
#include "rdm/device_info.h"
#include "rig/fixtures.h"


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
        // The same requests in the same order as the Get button.
        const int count = GetSupportedParameters(b.engine, uid, table);
        std::array<std::string, 9> rows;
        ReadDeviceInfo(b.engine, uid, rows);
        uint8_t label[40] = {};
        GetParamBytes(b.engine, uid, rdm::SOFTWARE_VERSION_LABEL, label, 32);
        for (int k = 0; k < count; ++k) {
            const uint16_t pid = table.supportedPids[k];
            if (IsManufacturerPid(pid))
                GetParameterDescription(b.engine, uid, pid, table.records[k]);
            else
                FillBuiltInDescription(pid, table.records[k]);
            ReadParamValue(b.engine, uid, table.records[k]);
        }
        const double wall = NowMs() - t0;
        const size_t requests = b.line.requests().size();
        const double bound = double(requests) * 51.0;
        std::printf("  %2d parameters: %3zu requests, wall %8.1f ms, fixed waits %8.1f ms, overhead %+.2f %%\n",
                    count, requests, wall, bound, (wall - bound) / bound * 100.0);
    }
    return 0;
}
