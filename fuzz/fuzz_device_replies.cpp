// What a device answers when it is read: DEVICE_INFO, SUPPORTED_PARAMETERS,
// PARAMETER_DESCRIPTION and the layouts built from it, the values read by them,
// personalities; with every response type, ACK_TIMER and ACK_OVERFLOW followed.
#include "engine_fixture.h"
#include "params/personalities.h"
#include "rdm/described_layout.h"
#include "rdm/device_info.h"
#include "rdm/parameter_exchange.h"
#include "rdm/pid_layouts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzEngine f;
    f.start(data, size);
    const Uid uid = 0x7FF000000001ull;
    rdm::DeviceInfo info;
    GetDeviceInfo(f.engine, uid, info);
    std::array<std::string, 9> rows;
    ReadDeviceInfo(f.engine, uid, rows);
    uint16_t pids[256];
    const int count = GetSupportedParameters(f.engine, uid, pids, 256);
    if (count < 0 || count > 256)
        __builtin_trap();
    for (int i = 0; i < count && i < 3 && f.serial.left(); ++i) {
        rdm::ParameterDescription description;
        if (!GetParameterDescription(f.engine, uid, pids[i], description))
            continue;
        const DescribedLayout layout = LayoutFromDescription(description);
        std::string error;
        WithinDescribedLimits(layout, {"1", "-1", "70000"}, error);
        const ParameterReply r = ExchangeParameter(f.engine, uid, rdm::GET_COMMAND, pids[i], {});
        if (r.result == TxAck)
            DecodeLayout(layout.layout.c_str(), r.data.data(), r.data.size());
    }
    if (f.serial.left())
        ReadPersonalities(f.engine, uid, 3);
    return 0;
}
