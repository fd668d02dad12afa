#pragma once
// The one object through which everything reaches the DMX512/RDM line. It hides
// which interface kind is in use: each operation goes to the driver of `kind`.
#include "link/d2xx.h"
#include "link/artnet_driver.h"
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
    KindArtNet = 3,
};

class InterfacePort {
public:
    InterfacePort(SerialApi& serial, D2xx& d2xx)
        : serialDriver_(*this, serial), talvernDriver_(*this, d2xx), usbProDriver_(*this, d2xx), artNetDriver_(*this)
    {
    }

    // The interface kind (a KindStandardVcp... value); the next PortOpen opens one of it.
    int8_t kind() const { return kind_; }
    void setKind(int8_t kind) { kind_ = kind; }
    // The FTDI device's number, as the interface list's row gives it (ChooseInterface).
    int32_t deviceIndex() const { return deviceIndex_; }
    void setDeviceIndex(int32_t index) { deviceIndex_ = index; }
    const char* devicePath() const { return devicePath_; }
    // The open device: a serial handle (kind 0) or an FTDI handle (kinds 1 and 2).
    int comHandle() const { return comHandle_; }
    FT_HANDLE ftHandle() const { return ftHandle_; }
    const SerialTimeouts& timeouts() const { return timeouts_; }

    void PortInit();
    int PortOpen();
    // After a PortOpen that failed because the interface is in use: the device
    // node through which it is held (see ProgramsHolding); empty otherwise.
    const std::string& busyNode() const { return busyNode_; }
    // After a PortOpen that failed for a reason the serial service gave (a line
    // entry that is not a terminal of the user's, or that no rig serves): that
    // reason; empty otherwise.
    const std::string& refusal() const { return refusal_; }
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
    void setLatencyOverrideUs(uint32_t us) { latencyOverrideUs_ = us; }
    // The devices of a kind whose interface discovers its own line (an Art-Net
    // node): 1 with the whole table, 0 with part of it or none (`note` says which),
    // -1 for a kind that leaves discovery to the controller (see LineDriver).
    int NodeTable(bool flush, std::vector<uint64_t>& uids, std::string& note);
    // Whether the current kind's interface discovers its line itself (see LineDriver).
    bool DiscoversItself();
    // For a kind on the network: how long a node's reply is waited for, and the
    // local UDP port (0: any free one, for a program beside one holding the usual).
    void setNodeWaitUs(uint32_t us) { artNetDriver_.setReadWaitUs(us); }
    void setNodeLocalPort(uint16_t udpPort) { artNetDriver_.setLocalPort(udpPort); }

    // The interface list of the current kind, and taking one of its rows as the
    // device to open.
    void ListInterfaces(std::vector<InterfaceEntry>& rows);
    // For a kind on the network: the nodes ListInterfaces asks for their ports, as
    // addresses (ADDRESS or ADDRESS:UDP_PORT) separated by commas or spaces; empty
    // asks every node on each IPv4 interface's network.
    void setListAddresses(std::string addresses) { listAddresses_ = std::move(addresses); }
    const std::string& listAddresses() const { return listAddresses_; }
    // After ListInterfaces: why rows that could have been listed were not (a lines
    // folder that is not the user's own, a node address that is none); empty otherwise.
    const std::string& listNote() const { return listNote_; }
    void ChooseInterface(const InterfaceEntry& row);

    void setDevicePath(const char* path);

    // Held around every packet exchange (a DMX frame, an RDM request and its reply)
    // so that the DMX output thread and the event thread never meet on the line.
    std::mutex& exchangeLock() { return exchangeLock_; }

private:
    // The drivers keep their state here, where nothing else writes it.
    friend class SerialDriver;
    friend class D2xxDriver;
    friend class TalvernDriver;
    friend class UsbProDriver;
    friend class ArtNetDriver;

    // The driver of `kind`; none for a kind that does not exist.
    LineDriver* driver();

    int8_t kind_ = KindStandardVcp;
    int32_t deviceIndex_ = 0;
    char devicePath_[260] = {};
    int comHandle_ = SerialApi::kInvalidHandle;
    FT_HANDLE ftHandle_ = nullptr;
    SerialTimeouts timeouts_{};
    SerialLineSettings lineSettings_{};
    std::string busyNode_;
    std::string refusal_;
    std::string listNote_;
    std::string listAddresses_;
    uint32_t latencyOverrideUs_ = 0;

    SerialDriver serialDriver_;
    TalvernDriver talvernDriver_;
    UsbProDriver usbProDriver_;
    ArtNetDriver artNetDriver_;
    std::mutex exchangeLock_;
};
