#include "link/interface_port.h"

#include <cstring>

LineDriver* InterfacePort::driver()
{
    switch (kind_) {
    case KindStandardVcp:
        return &serialDriver_;
    case KindTalvern:
        return &talvernDriver_;
    case KindEnttecUsbPro:
        return &usbProDriver_;
    case KindArtNet:
        return &artNetDriver_;
    default:
        return nullptr;
    }
}

void InterfacePort::PortInit()
{
    ftHandle_ = nullptr;
    deviceIndex_ = 0;
    comHandle_ = SerialApi::kInvalidHandle;
}

void InterfacePort::setDevicePath(const char* path)
{
    // A path cut short could name another file: one too long is not taken at all.
    if (std::strlen(path) >= sizeof devicePath_) {
        devicePath_[0] = '\0';
        return;
    }
    std::strcpy(devicePath_, path);
}

int InterfacePort::PortOpen()
{
    LineDriver* d = driver();
    busyNode_.clear();
    refusal_.clear();
    return d ? d->open() : 0;
}

void InterfacePort::PortClose()
{
    // Whatever the kind is now: a device of an earlier kind is closed too.
    usbProDriver_.close();
    serialDriver_.close();
}

int InterfacePort::PortWrite(const uint8_t* bytes, int count, int* written)
{
    LineDriver* d = driver();
    const int result = d ? d->write(bytes, count) : 0;
    if (written)
        *written = result;
    return result;
}

int InterfacePort::PortRead(uint8_t* buffer, int count, int* read)
{
    LineDriver* d = driver();
    const int result = d ? d->read(buffer, count) : -1;
    if (read)
        *read = result;
    return result;
}

void InterfacePort::PortBreak()
{
    if (LineDriver* d = driver())
        d->lineBreak();
}

void InterfacePort::PortPurge()
{
    if (LineDriver* d = driver())
        d->purge();
}

int InterfacePort::SendDmxFrame(const uint8_t* frame, int length)
{
    LineDriver* d = driver();
    return d ? d->sendDmxFrame(frame, length) : 0;
}

int InterfacePort::SendRdmPacket(const uint8_t* packet, int count, ReplyKind expect)
{
    LineDriver* d = driver();
    return d ? d->sendRdmPacket(packet, count, expect) : 0;
}

int InterfacePort::ReadRdmReply(uint8_t* buffer, int count, ReplyKind replyKind)
{
    LineDriver* d = driver();
    return d ? d->readReply(buffer, count, replyKind) : -1;
}

int InterfacePort::CountWaiting()
{
    LineDriver* d = driver();
    return d ? d->countWaiting() : 0;
}

int InterfacePort::ReadWaiting(uint8_t* buffer, int count)
{
    LineDriver* d = driver();
    return d ? d->readWaiting(buffer, count) : -1;
}

int InterfacePort::ReadRdmReplyWhole(uint8_t* buffer, int count, ReplyKind replyKind, const ReplyWait& wait)
{
    LineDriver* d = driver();
    return d ? d->readReplyWhole(buffer, count, replyKind, wait) : -1;
}

uint32_t InterfacePort::TransportLatencyUs()
{
    if (latencyOverrideUs_)
        return latencyOverrideUs_;
    LineDriver* d = driver();
    return d ? d->latencyUs() : 0;
}

void InterfacePort::ListInterfaces(std::vector<InterfaceEntry>& rows)
{
    rows.clear();
    listNote_.clear();
    if (LineDriver* d = driver())
        d->list(rows);
}

void InterfacePort::ChooseInterface(const InterfaceEntry& row)
{
    if (LineDriver* d = driver())
        d->choose(row);
}

bool InterfacePort::DiscoversItself()
{
    LineDriver* d = driver();
    return d && d->discoversItself();
}

int InterfacePort::NodeTable(bool flush, std::vector<uint64_t>& uids, std::string& note)
{
    LineDriver* d = driver();
    return d ? d->nodeTable(flush, uids, note) : -1;
}
