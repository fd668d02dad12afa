#include "link/serial_driver.h"

#include "link/interface_port.h"

#include <cerrno>

bool SerialDriver::isOpen() const { return port_.comHandle_ != SerialApi::kInvalidHandle; }

int SerialDriver::open()
{
    if (port_.devicePath_[0] == '\0')
        return 0;
    errno = 0;
    port_.comHandle_ = serial_.open(port_.devicePath_);
    if (!isOpen()) {
        // Held by another program: its lock, or the terminal's exclusive mode.
        if (errno == EWOULDBLOCK || errno == EBUSY)
            port_.busyNode_ = port_.devicePath_;
        port_.refusal_ = serial_.refusal();
        return 0;
    }
    port_.lineSettings_ = SerialLineSettings{};  // 250000 8N2, no flow control, DTR and RTS off
    port_.timeouts_ = SerialTimeouts{1, 1, 1, 1, 1};
    if (!serial_.applySettings(port_.comHandle_, port_.lineSettings_) ||
        !serial_.applyTimeouts(port_.comHandle_, port_.timeouts_)) {
        close();
        return 0;
    }
    // USB-serial chips otherwise hold received bytes for up to 16 ms; a device
    // that cannot shorten that is used as it is.
    serial_.requestLowLatency(port_.comHandle_);
    latencyUs_ = serial_.deliveryLatencyUs(port_.comHandle_);
    return 1;
}

void SerialDriver::close()
{
    if (isOpen()) {
        serial_.close(port_.comHandle_);
        port_.comHandle_ = SerialApi::kInvalidHandle;
    }
}

int SerialDriver::write(const uint8_t* bytes, int count)
{
    if (!isOpen())
        return 0;
    const long n = serial_.write(port_.comHandle_, bytes, size_t(count));
    return n < 0 ? 0 : int(n);
}

int SerialDriver::read(uint8_t* buffer, int count)
{
    if (!isOpen())
        return -1;
    const long n = serial_.read(port_.comHandle_, buffer, size_t(count));
    return n < 0 ? -1 : int(n);
}

int SerialDriver::countWaiting()
{
    const long n = isOpen() ? serial_.countWaiting(port_.comHandle_) : -1;
    return n > 0 ? int(n) : 0;
}

int SerialDriver::readWaiting(uint8_t* buffer, int count)
{
    if (!isOpen())
        return -1;
    const long n = serial_.readWaiting(port_.comHandle_, buffer, size_t(count));
    return n < 0 ? -1 : int(n);
}

void SerialDriver::waitForInput(Clock& clock, uint64_t us)
{
    if (!isOpen() || serial_.waitReadable(port_.comHandle_, us) < 0)
        LineDriver::waitForInput(clock, us);
}

void SerialDriver::lineBreak()
{
    if (isOpen()) {
        serial_.setBreak(port_.comHandle_);
        serial_.clearBreak(port_.comHandle_);
    }
}

void SerialDriver::purge()
{
    if (isOpen())
        serial_.purge(port_.comHandle_);
}

void SerialDriver::list(std::vector<InterfaceEntry>& rows) { EnumComPorts(rows, &port_.listNote_); }

void SerialDriver::choose(const InterfaceEntry& row) { port_.setDevicePath(row.path.c_str()); }
