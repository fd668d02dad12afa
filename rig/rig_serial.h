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

    // What the port asked of the service, for tests of the line set-up.
    SerialLineSettings lastSettings{};
    SerialTimeouts lastTimeouts{};
    int breaks = 0;
    int purges = 0;
    bool rejectSettings = false;
    bool rejectTimeouts = false;
    bool failWrites = false;
    int openHandles() const { return int(open_.size()); }

private:
    struct Device {
        VirtualLine* line = nullptr;
        std::string path;
        SerialTimeouts timeouts{};
        RxQueue rx;
        bool breakSeen = false;
    };
    Device* device(int handle);

    std::map<std::string, VirtualLine*> lines_;
    std::map<int, Device> open_;
    int nextHandle_ = 100;
};

} // namespace rig
