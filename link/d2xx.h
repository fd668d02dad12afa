#pragma once
// The D2XX driver calls the two FTDI interface kinds are driven through, with the
// names and arguments of FTDI's library. `FtdiD2xx` implements them over libftdi1;
// the virtual rig provides a fake FTDI device behind the same calls.
#include <cstdint>
#include <string>

using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr DWORD FT_PURGE_RX = 1;
constexpr DWORD FT_PURGE_TX = 2;

class D2xx {
public:
    virtual ~D2xx() = default;
    virtual FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) = 0;
    virtual FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) = 0;
    virtual FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, DWORD* type, DWORD* id, char* serialNumber16,
                                       char* description64, void* dummy) = 0;
    virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_ResetDevice(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_SetBaudRate(FT_HANDLE handle, DWORD baudRate) = 0;
    virtual FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                                uint8_t parity) = 0;
    virtual FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t mode, uint8_t xon, uint8_t xoff) = 0;
    virtual FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) = 0;
    virtual FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) = 0;
    virtual FT_STATUS FT_SetBreakOn(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_SetBreakOff(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) = 0;
    virtual FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) = 0;
    // Bytes received and waiting to be read, without waiting for more.
    virtual FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) = 0;
    // Not a D2XX call: when the last FT_Open failed because the device is in use,
    // the device node through which it is held (/dev/bus/usb/...), else empty.
    virtual std::string busyNode() const { return {}; }
};
