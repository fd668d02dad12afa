// An Enttec USB Pro's answer read from the device as it comes: in pieces of any
// size, with noise, false delimiters and other labels between the messages; by
// the reader that takes a message at a time, and by the fast exchange's read,
// which gathers what is waiting until a whole answer is there.
#include "link/clock.h"
#include "link/interface_port.h"
#include "link/widget_message.h"
#include "rig/rig_serial.h"

#include <algorithm>
#include <cstring>

namespace {

// An FTDI device whose reads hand over the script in pieces of the sizes it says.
class PiecewiseD2xx : public D2xx {
public:
    const uint8_t* bytes = nullptr;
    size_t left = 0;
    uint8_t piece = 1;

    FT_STATUS FT_ListDevices(void*, void*, DWORD) override { return FT_OK; }
    FT_STATUS FT_Open(int, FT_HANDLE* handle) override
    {
        *handle = reinterpret_cast<FT_HANDLE>(this);
        return FT_OK;
    }
    FT_STATUS FT_GetDeviceInfo(FT_HANDLE, DWORD*, DWORD*, char*, char*, void*) override { return FT_OK; }
    FT_STATUS FT_Close(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_ResetDevice(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_SetBaudRate(FT_HANDLE, DWORD) override { return FT_OK; }
    FT_STATUS FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t) override { return FT_OK; }
    FT_STATUS FT_SetFlowControl(FT_HANDLE, uint16_t, uint8_t, uint8_t) override { return FT_OK; }
    FT_STATUS FT_Purge(FT_HANDLE, DWORD) override { return FT_OK; }
    FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD, DWORD) override { return FT_OK; }
    FT_STATUS FT_SetBreakOn(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_SetBreakOff(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_Write(FT_HANDLE, const void*, DWORD count, DWORD* written) override
    {
        *written = count;
        return FT_OK;
    }
    FT_STATUS FT_Read(FT_HANDLE, void* buffer, DWORD count, DWORD* read) override
    {
        // Each read takes at most one piece; a piece of 0 is a read that times out.
        const size_t n = std::min<size_t>({count, left, piece});
        std::memcpy(buffer, bytes, n);
        bytes += n;
        left -= n;
        piece = uint8_t(piece * 5 + 3);
        *read = DWORD(n);
        return FT_OK;
    }
    FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD* rx) override
    {
        *rx = DWORD(left);
        return FT_OK;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static rig::RigSerial serial;
    static PiecewiseD2xx d2xx;
    static InterfacePort port(serial, d2xx);
    static bool ready = [] {
        port.PortInit();
        port.setKind(KindEnttecUsbPro);
        port.PortOpen();
        return true;
    }();
    (void)ready;
    if (!size)
        return 0;
    d2xx.piece = data[0];
    d2xx.bytes = data + 1;
    d2xx.left = size - 1;
    static VirtualClock clock;
    WidgetReplyReader reader;
    uint8_t out[600];
    const bool gathered = d2xx.piece & 0x80;
    for (int i = 0; i < 4 && d2xx.left; ++i) {
        int n = 0;
        if (gathered) {
            const ReplyWait wait{clock, clock.nowUs() + 3000, 2000, nullptr, nullptr, 10000};
            n = port.ReadRdmReplyWhole(out, int(sizeof out), i % 2 ? ReplyKind::Discovery : ReplyKind::Ordinary,
                                       wait);
        } else {
            bool answered = false;
            n = reader.read(port, out, int(sizeof out), &answered);
        }
        if (n > int(sizeof out))
            __builtin_trap();
    }
    return 0;
}
