#pragma once
// The rig as FTDI devices behind the D2XX calls: a raw device (the "Talvern"
// kind, breaks through the driver) or an Enttec USB Pro widget that speaks in
// framed messages both ways.
#include "link/d2xx.h"
#include "rig/ftdi_device_model.h"

#include <deque>
#include <string>
#include <vector>

namespace rig {

class RigD2xx final : public D2xx {
public:
    // Adds a device; returns its device number.
    int addDevice(VirtualLine& line, FtdiMode mode, const std::string& serial);
    void setOpenable(int deviceNumber, bool openable);
    bool failList = false;
    bool failWrites = false;

    // Every call made, by name, in order ("FT_Open", "FT_Purge 1", ...).
    std::vector<std::string> calls;
    // Widget messages the controller wrote, as (label, data).
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> widgetMessages;

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

    // The device behind a number, to set its behaviour in tests.
    FtdiDeviceModel& chip(int deviceNumber) { return devices_.at(size_t(deviceNumber)).chip; }

    int openCount() const;

private:
    struct Device {
        Device(VirtualLine& line, FtdiMode mode) : chip(line, mode) {}
        FtdiDeviceModel chip;
        std::string serial;
        bool openable = true;
        bool open = false;
        uint32_t readTimeoutMs = 0;
    };
    Device* device(FT_HANDLE h);

    std::deque<Device> devices_;  // handles point at entries: they must not move
};

} // namespace rig
