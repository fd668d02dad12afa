#pragma once
// D2XX calls over libftdi1, for FTDI devices on the USB bus (vendor 0403).
#include "link/clock.h"
#include "link/d2xx.h"

#include <set>

// Each open device owns the libftdi context (and with it the libusb context) whose
// device list found it, until FT_Close. Devices bound to the kernel's ftdi_sio
// driver are left to it: they cannot be opened here and so get no row.
class FtdiD2xx final : public D2xx {
public:
    explicit FtdiD2xx(Clock& clock = SystemClock::instance()) : clock_(clock) {}
    // Devices still open are closed: their USB interfaces are released.
    ~FtdiD2xx() override;
    FtdiD2xx(const FtdiD2xx&) = delete;
    FtdiD2xx& operator=(const FtdiD2xx&) = delete;

    FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) override;
    FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) override;
    FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, DWORD* type, DWORD* id, char* serialNumber16, char* description64,
                               void* dummy) override;
    FT_STATUS FT_Close(FT_HANDLE handle) override;
    FT_STATUS FT_ResetDevice(FT_HANDLE handle) override;
    FT_STATUS FT_SetBaudRate(FT_HANDLE handle, DWORD baudRate) override;
    FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                        uint8_t parity) override;
    FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t mode, uint8_t xon, uint8_t xoff) override;
    FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
    FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) override;
    FT_STATUS FT_SetBreakOn(FT_HANDLE handle) override;
    FT_STATUS FT_SetBreakOff(FT_HANDLE handle) override;
    FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) override;
    FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) override;
    FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override;
    std::string busyNode() const override { return busyNode_; }

private:
    Clock& clock_;
    std::set<FT_HANDLE> open_;
    std::string busyNode_;
};
