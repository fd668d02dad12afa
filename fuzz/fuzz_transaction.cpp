// Reply bytes of an RDM exchange: the start code and checksum checks and the dump.
#include "harness.h"
#include "scripted_serial.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VirtualClock clock;
    static ScriptedSerial serial(clock);
    static rig::RigD2xx d2xx;
    static InterfacePort port(serial, d2xx);
    static RecordingLog log;
    static RdmEngine engine(port, clock, log);
    static bool ready = [] {
        port.PortInit();
        port.setDevicePath("/dev/fuzz");
        port.PortOpen();
        engine.SetupRequestHeader();
        log.detailedOn = true;
        return true;
    }();
    (void)ready;
    // Nothing of one input may pile up into the next.
    log.lines.clear();
    serial.reset();
    serial.input.assign(data, data + size);
    const uint8_t pdl = size ? data[0] % 232 : 0;
    Transact(engine, 0x7FF000000001ull, rdm::GET_COMMAND, rdm::DEVICE_INFO, data, uint8_t(size < pdl ? size : pdl));
    return 0;
}
