// Raw bytes where replies belong, over several requests in a row: the fast
// exchange's reply judge, its widened wait, and what it makes of bytes left over
// or arriving late for the request before.
#include "engine_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzEngine f;
    f.start(data, size);
    f.engine.setFastExchange(true);
    static const uint16_t kPids[] = {rdm::DEVICE_INFO, rdm::DEVICE_LABEL, rdm::DMX_START_ADDRESS,
                                     rdm::SUPPORTED_PARAMETERS};
    for (int i = 0; i < 6 && (f.serial.left() || !f.serial.input.empty()); ++i)
        Transact(f.engine, 0x7FF000000001ull + uint64_t(i % 2), rdm::GET_COMMAND, kPids[i % 4]);
    return 0;
}
