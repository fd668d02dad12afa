#pragma once
// The rig as a serial-port service: a path opens a virtual COM device wired to a
// line, in the same process and on the line's clock.
#include "link/serial_api.h"
#include "rig/rx_queue.h"

#include <map>
#include <string>

namespace rig {

class RigSerial final : public SerialApi {
public:
    void attach(const std::string& path, VirtualLine& line);

    int open(const char* path) override;
    bool applySettings(int handle, const SerialLineSettings& settings) override;
    bool applyTimeouts(int handle, const SerialTimeouts& timeouts) override;
    long write(int handle, const uint8_t* bytes, size_t count) override;
    long read(int handle, uint8_t* buffer, size_t count) override;
    bool setBreak(int handle) override;
    bool clearBreak(int handle) override;
    bool purge(int handle) override;
    void close(int handle) override;
    long readWaiting(int handle, uint8_t* buffer, size_t count) override;
    long countWaiting(int handle) override;
    int waitReadable(int handle, uint64_t timeoutUs) override;
    uint32_t deliveryLatencyUs(int) override { return latencyUs; }

    // What the virtual device says of its latency, for the fast exchange's limits.
    uint32_t latencyUs = 1000;

    // What the port asked of the service, for tests of the line set-up.
    SerialLineSettings lastSettings{};
    SerialTimeouts lastTimeouts{};
    int breaks = 0;
    int purges = 0;
    bool rejectSettings = false;
    bool rejectTimeouts = false;
    bool failWrites = false;
    // Whether the UART reports a responder's break as a 0x00 byte (adapters that
    // do not hand over the reply from its start code on).
    bool reportsBreaks = true;
    int openHandles() const { return int(open_.size()); }

    // Pulling the adapter: its node disappears, open handles fail their writes and
    // read nothing, as a hung-up tty does. Plugging it back makes the path open again.
    void unplug(const std::string& path);
    void replug(const std::string& path);

private:
    struct Device {
        VirtualLine* line = nullptr;
        std::string path;
        SerialTimeouts timeouts{};
        RxQueue rx;
        bool breakSeen = false;
        bool gone = false;
    };
    Device* device(int handle);

    std::map<std::string, VirtualLine*> lines_;
    std::map<int, Device> open_;
    std::map<std::string, bool> unplugged_;
    int nextHandle_ = 100;
};

} // namespace rig
