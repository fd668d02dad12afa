#pragma once
// The one object through which everything reaches the DMX512/RDM line. It hides
// which interface kind is in use: each operation goes to the driver of `kind`.
#include "link/d2xx.h"
#include "link/d2xx_driver.h"
#include "link/serial_api.h"
#include "link/serial_driver.h"

#include <cstdint>
#include <mutex>
#include <string>

enum InterfaceKind : int8_t {
    KindStandardVcp = 0,
    KindTalvern = 1,
    KindEnttecUsbPro = 2,
};

class InterfacePort {
public:
    InterfacePort(SerialApi& serial, D2xx& d2xx)
        : serialDriver_(*this, serial), talvernDriver_(*this, d2xx), usbProDriver_(*this, d2xx)
    {
    }

    int8_t kind = KindStandardVcp;
    int32_t deviceIndex = 0;
    char devicePath[260] = {};
    int comHandle = SerialApi::kInvalidHandle;
    FT_HANDLE ftHandle = nullptr;
    SerialTimeouts timeouts{};
    SerialLineSettings lineSettings{};

    void PortInit();
    int PortOpen();
    // After a PortOpen that failed because the interface is in use: the device
    // node through which it is held (see ProgramsHolding); empty otherwise.
    std::string busyNode;
    // After a PortOpen that failed for a reason the serial service gave (a line
    // entry that is not a terminal of the user's, or that no rig serves): that
    // reason; empty otherwise.
    std::string refusal;
    void PortClose();
    int PortWrite(const uint8_t* bytes, int count, int* written = nullptr);
    int PortRead(uint8_t* buffer, int count, int* read = nullptr);
    void PortBreak();
    void PortPurge();

    // Packets as the current kind puts them on the line (see LineDriver).
    int SendDmxFrame(const uint8_t* frame, int length);
    int SendRdmPacket(const uint8_t* packet, int count, ReplyKind expect);
    int ReadRdmReply(uint8_t* buffer, int count, ReplyKind replyKind);
    // How many received bytes wait unread (see LineDriver::countWaiting), and
    // taking them without waiting.
    int CountWaiting();
    int ReadWaiting(uint8_t* buffer, int count);
    // The reply as soon as it is whole; the fast exchange reads through this.
    int ReadRdmReplyWhole(uint8_t* buffer, int count, ReplyKind replyKind, const ReplyWait& wait);
    // How late received bytes may reach a read on the current kind: what the
    // device says, unless `latencyOverrideUs` is set (non-zero).
    uint32_t TransportLatencyUs();
    uint32_t latencyOverrideUs = 0;

    // The interface list of the current kind, and taking one of its rows as the
    // device to open.
    void ListInterfaces(std::vector<InterfaceEntry>& rows);
    // After ListInterfaces: why rows that could have been listed were not (a lines
    // folder that is not the user's own); empty otherwise.
    std::string listNote;
    void ChooseInterface(const InterfaceEntry& row);

    void setDevicePath(const char* path);

    // Held around every packet exchange (a DMX frame, an RDM request and its reply)
    // so that the DMX output thread and the event thread never meet on the line.
    std::mutex& exchangeLock() { return exchangeLock_; }

private:
    // The driver of `kind`; none for a kind that does not exist.
    LineDriver* driver();

    SerialDriver serialDriver_;
    TalvernDriver talvernDriver_;
    UsbProDriver usbProDriver_;
    std::mutex exchangeLock_;
};
