// What a DISC_UNIQUE_BRANCH brings back: separator search, decoding, range and checksum.
#include "harness.h"
#include "rdm/discovery.h"
#include "scripted_serial.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 12)
        return 0;
    Uid lower = ReadUid(data), upper = ReadUid(data + 6);
    uint8_t reply[40];
    std::memset(reply, 0x55, sizeof reply);
    std::memcpy(reply, data + 12, size - 12 < 40 ? size - 12 : 40);
    Uid found = 0;
    BranchResult r = rdm::JudgeBranchReply(reply, lower, upper, found);
    if (r == BranchSingle && (found < lower || found > upper))
        __builtin_trap();

    // The same bytes through the port, as the branch request reads them.
    static VirtualClock clock;
    static ScriptedSerial serial(clock);
    static rig::RigD2xx d2xx;
    static InterfacePort port(serial, d2xx);
    static RecordingLog log;
    static RdmEngine engine(port, clock, log);
    static DeviceTable table;
    static Discovery discovery(engine, table, DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {}, [] { return 1; }});
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
    serial.input.assign(data + 12, data + size);
    table.deviceCount = 0;
    discovery.DiscoveryBranch(lower, upper);
    return 0;
}
