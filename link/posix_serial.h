#pragma once
// Serial-port service over POSIX device nodes: termios2 for the 250000 baud rate,
// poll() for the read and write time-outs.
#include "link/serial_api.h"

#include <map>
#include <string>

class PosixSerial : public SerialApi {
public:
    // A published virtual line is opened through its checked folder; anything
    // opened must be a terminal device before it is locked or set.
    int open(const char* path) override;
    std::string refusal() const override { return refusal_; }
    bool applySettings(int handle, const SerialLineSettings& settings) override;
    bool applyTimeouts(int handle, const SerialTimeouts& timeouts) override;
    long write(int handle, const uint8_t* bytes, size_t count) override;
    long read(int handle, uint8_t* buffer, size_t count) override;
    bool setBreak(int handle) override;
    bool clearBreak(int handle) override;
    bool purge(int handle) override;
    bool requestLowLatency(int handle) override;
    long readWaiting(int handle, uint8_t* buffer, size_t count) override;
    long countWaiting(int handle) override;
    int waitReadable(int handle, uint64_t timeoutUs) override;
    uint32_t deliveryLatencyUs(int handle) override;
    void close(int handle) override;

private:
    std::map<int, SerialTimeouts> timeouts_;
    std::string refusal_;
};
