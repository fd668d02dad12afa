#include "link/interface_port.h"

#include <cstring>

void InterfacePort::PortInit()
{
    ftHandle = nullptr;
    deviceIndex = 0;
    comHandle = SerialApi::kInvalidHandle;
}

void InterfacePort::setDevicePath(const char* path)
{
    std::strncpy(devicePath, path, sizeof devicePath - 1);
    devicePath[sizeof devicePath - 1] = '\0';
}

int InterfacePort::PortOpen()
{
    switch (kind) {
    case KindStandardVcp:
        return openSerial();
    case KindTalvern:
    case KindEnttecUsbPro:
        return openD2xx();
    default:
        return 0;
    }
}

int InterfacePort::openSerial()
{
    if (devicePath[0] == '\0')
        return 0;
    comHandle = serial_.open(devicePath);
    if (comHandle == SerialApi::kInvalidHandle)
        return 0;
    lineSettings = SerialLineSettings{};  // 250000 8N2, no flow control, DTR and RTS off
    timeouts = SerialTimeouts{1, 1, 1, 1, 1};
    if (!serial_.applySettings(comHandle, lineSettings) || !serial_.applyTimeouts(comHandle, timeouts)) {
        serial_.close(comHandle);
        comHandle = SerialApi::kInvalidHandle;
        return 0;
    }
    return 1;
}

int InterfacePort::openD2xx()
{
    if (d2xx_.FT_Open(deviceIndex, &ftHandle) != FT_OK) {
        ftHandle = nullptr;
        return 0;
    }
    d2xx_.FT_ResetDevice(ftHandle);
    d2xx_.FT_SetBaudRate(ftHandle, 250000);
    d2xx_.FT_SetDataCharacteristics(ftHandle, 8, 2, 0);
    d2xx_.FT_SetFlowControl(ftHandle, 0, 0, 0);
    d2xx_.FT_Purge(ftHandle, FT_PURGE_RX);
    d2xx_.FT_Purge(ftHandle, FT_PURGE_TX);
    d2xx_.FT_SetTimeouts(ftHandle, 50, 50);
    return 1;
}

void InterfacePort::PortClose()
{
    if (ftHandle) {
        d2xx_.FT_Close(ftHandle);
        ftHandle = nullptr;
    }
    if (comHandle != SerialApi::kInvalidHandle) {
        serial_.close(comHandle);
        comHandle = SerialApi::kInvalidHandle;
    }
}

int InterfacePort::PortWrite(const uint8_t* bytes, int count, int* written)
{
    int result = 0;
    if (kind == KindStandardVcp) {
        if (comHandle != SerialApi::kInvalidHandle) {
            long n = serial_.write(comHandle, bytes, size_t(count));
            result = n < 0 ? 0 : int(n);
        }
    } else if (kind == KindTalvern || kind == KindEnttecUsbPro) {
        DWORD n = 0;
        if (ftHandle && d2xx_.FT_Write(ftHandle, bytes, DWORD(count), &n) == FT_OK)
            result = int(n);
    }
    if (written)
        *written = result;
    return result;
}

int InterfacePort::PortRead(uint8_t* buffer, int count, int* read)
{
    int result = -1;
    if (kind == KindStandardVcp) {
        if (comHandle != SerialApi::kInvalidHandle) {
            long n = serial_.read(comHandle, buffer, size_t(count));
            result = n < 0 ? -1 : int(n);
        }
    } else if (kind == KindTalvern || kind == KindEnttecUsbPro) {
        // The driver's status is not examined: a failed read is an empty line.
        DWORD n = 0;
        if (ftHandle)
            d2xx_.FT_Read(ftHandle, buffer, DWORD(count), &n);
        result = int(n > DWORD(count) ? DWORD(count) : n);
    }
    if (read)
        *read = result;
    return result;
}

void InterfacePort::PortBreak()
{
    if (kind == KindStandardVcp) {
        if (comHandle != SerialApi::kInvalidHandle) {
            serial_.setBreak(comHandle);
            serial_.clearBreak(comHandle);
        }
    } else if (kind == KindTalvern && ftHandle) {
        d2xx_.FT_SetBreakOn(ftHandle);
        d2xx_.FT_SetBreakOff(ftHandle);
    }
}

void InterfacePort::PortPurge()
{
    if (kind == KindStandardVcp) {
        if (comHandle != SerialApi::kInvalidHandle)
            serial_.purge(comHandle);
    } else if (kind == KindTalvern && ftHandle) {
        d2xx_.FT_Purge(ftHandle, FT_PURGE_RX);
        d2xx_.FT_Purge(ftHandle, FT_PURGE_TX);
    }
}
