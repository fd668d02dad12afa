#pragma once
// The one object through which everything reaches the DMX512/RDM line. It hides
// which interface kind is in use and only moves bytes, breaks and purges.
#include "link/d2xx.h"
#include "link/serial_api.h"

#include <cstdint>
#include <mutex>

enum InterfaceKind : int8_t {
    KindStandardVcp = 0,
    KindTalvern = 1,
    KindEnttecUsbPro = 2,
};

class InterfacePort {
public:
    InterfacePort(SerialApi& serial, D2xx& d2xx) : serial_(serial), d2xx_(d2xx) {}

    int8_t kind = KindStandardVcp;
    int32_t deviceIndex = 0;
    char devicePath[260] = {};
    int comHandle = SerialApi::kInvalidHandle;
    FT_HANDLE ftHandle = nullptr;
    SerialTimeouts timeouts{};
    SerialLineSettings lineSettings{};

    void PortInit();
    int PortOpen();
    void PortClose();
    int PortWrite(const uint8_t* bytes, int count, int* written = nullptr);
    int PortRead(uint8_t* buffer, int count, int* read = nullptr);
    void PortBreak();
    void PortPurge();

    void setDevicePath(const char* path);
    D2xx& d2xx() { return d2xx_; }

    // Held around every packet exchange (a DMX frame, an RDM request and its reply)
    // so that the DMX output thread and the event thread never meet on the line.
    std::mutex& exchangeLock() { return exchangeLock_; }

private:
    int openSerial();
    int openD2xx();

    SerialApi& serial_;
    D2xx& d2xx_;
    std::mutex exchangeLock_;
};
