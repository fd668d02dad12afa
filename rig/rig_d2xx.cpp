#include "rig/rig_d2xx.h"

#include <cstring>

namespace rig {

int RigD2xx::addDevice(VirtualLine& line, FtdiMode mode, const std::string& serial)
{
    Device& d = devices_.emplace_back(line, mode);
    d.serial = serial;
    d.chip.widgetLog = &widgetMessages;
    return int(devices_.size() - 1);
}

void RigD2xx::setOpenable(int deviceNumber, bool openable) { devices_.at(size_t(deviceNumber)).openable = openable; }

int RigD2xx::openCount() const
{
    int n = 0;
    for (const Device& d : devices_)
        n += d.open;
    return n;
}

RigD2xx::Device* RigD2xx::device(FT_HANDLE h)
{
    for (Device& d : devices_)
        if (&d == h && d.open)
            return &d;
    return nullptr;
}

FT_STATUS RigD2xx::FT_ListDevices(void* arg1, void*, DWORD flags)
{
    calls.push_back("FT_ListDevices");
    if (failList || !(flags & FT_LIST_NUMBER_ONLY))
        return FT_IO_ERROR;
    *static_cast<DWORD*>(arg1) = DWORD(devices_.size());
    return FT_OK;
}

FT_STATUS RigD2xx::FT_Open(int n, FT_HANDLE* handle)
{
    calls.push_back("FT_Open " + std::to_string(n));
    *handle = nullptr;
    if (n < 0 || size_t(n) >= devices_.size())
        return FT_DEVICE_NOT_FOUND;
    Device& d = devices_[size_t(n)];
    if (!d.openable || d.open)
        return FT_DEVICE_NOT_OPENED;
    d.open = true;
    d.chip.reset();
    *handle = &d;
    return FT_OK;
}

FT_STATUS RigD2xx::FT_GetDeviceInfo(FT_HANDLE h, DWORD* type, DWORD* id, char* serial, char* description, void*)
{
    calls.push_back("FT_GetDeviceInfo");
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    if (type)
        *type = 5;  // FT_DEVICE_232R
    if (id)
        *id = 0x04036001;
    if (serial) {
        std::strncpy(serial, d->serial.c_str(), 15);
        serial[15] = '\0';
    }
    if (description)
        std::strcpy(description, d->chip.mode() == FtdiMode::Widget ? "DMX USB PRO" : "FT232R USB UART");
    return FT_OK;
}

FT_STATUS RigD2xx::FT_Close(FT_HANDLE h)
{
    calls.push_back("FT_Close");
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    d->open = false;
    return FT_OK;
}

FT_STATUS RigD2xx::FT_ResetDevice(FT_HANDLE h)
{
    calls.push_back("FT_ResetDevice");
    return device(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS RigD2xx::FT_SetBaudRate(FT_HANDLE h, DWORD baud)
{
    calls.push_back("FT_SetBaudRate " + std::to_string(baud));
    return device(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS RigD2xx::FT_SetDataCharacteristics(FT_HANDLE h, uint8_t w, uint8_t s, uint8_t p)
{
    calls.push_back("FT_SetDataCharacteristics " + std::to_string(w) + " " + std::to_string(s) + " " +
                    std::to_string(p));
    return device(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS RigD2xx::FT_SetFlowControl(FT_HANDLE h, uint16_t mode, uint8_t xon, uint8_t xoff)
{
    calls.push_back("FT_SetFlowControl " + std::to_string(mode) + " " + std::to_string(xon) + " " +
                    std::to_string(xoff));
    return device(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS RigD2xx::FT_Purge(FT_HANDLE h, DWORD mask)
{
    calls.push_back("FT_Purge " + std::to_string(mask));
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    if (mask & FT_PURGE_RX)
        d->chip.purgeReceive();
    return FT_OK;
}

FT_STATUS RigD2xx::FT_SetTimeouts(FT_HANDLE h, DWORD readMs, DWORD writeMs)
{
    calls.push_back("FT_SetTimeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    d->readTimeoutMs = readMs;
    return FT_OK;
}

FT_STATUS RigD2xx::FT_SetBreakOn(FT_HANDLE h)
{
    calls.push_back("FT_SetBreakOn");
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    d->chip.lineBreak();
    return FT_OK;
}

FT_STATUS RigD2xx::FT_SetBreakOff(FT_HANDLE h)
{
    calls.push_back("FT_SetBreakOff");
    return device(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS RigD2xx::FT_Write(FT_HANDLE h, const void* buffer, DWORD count, DWORD* written)
{
    *written = 0;
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    if (failWrites)
        return FT_IO_ERROR;
    d->chip.write(static_cast<const uint8_t*>(buffer), count);
    *written = count;
    return FT_OK;
}

FT_STATUS RigD2xx::FT_Read(FT_HANDLE h, void* buffer, DWORD count, DWORD* read)
{
    *read = 0;
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    Clock& clock = d->chip.line().clock();
    const uint64_t now = clock.nowUs();
    uint64_t end = now;
    size_t got = d->chip.rx().read(static_cast<uint8_t*>(buffer), count, now, now + uint64_t(d->readTimeoutMs) * 1000, 0, end);
    if (end > now)
        clock.sleepUs(end - now);
    *read = DWORD(got);
    return FT_OK;
}

FT_STATUS RigD2xx::FT_GetQueueStatus(FT_HANDLE h, DWORD* rxBytes)
{
    calls.push_back("FT_GetQueueStatus");
    *rxBytes = 0;
    Device* d = device(h);
    if (!d)
        return FT_INVALID_HANDLE;
    *rxBytes = DWORD(d->chip.rx().available(d->chip.line().clock().nowUs()));
    return FT_OK;
}

} // namespace rig
