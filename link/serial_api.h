#pragma once
// The operating system's serial-port service, as the interface port uses it.
// One implementation drives real device nodes through termios; the virtual rig
// provides another that answers in-process.
#include <cstddef>
#include <cstdint>
#include <string>

struct SerialLineSettings {
    uint32_t baudRate = 250000;
    uint8_t dataBits = 8;
    uint8_t stopBits = 2;
    bool parity = false;
    bool hardwareFlow = false;   // CTS/DSR output flow control
    bool softwareFlow = false;   // XON/XOFF either way
    bool dtrOn = false;
    bool rtsOn = false;
};

// Read and write time-outs in milliseconds, with the meaning of the classic COM
// time-out record: a read of n bytes gives up after n * multiplier + constant ms,
// or earlier once more than `readInterval` ms pass between two received bytes.
struct SerialTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

class SerialApi {
public:
    static constexpr int kInvalidHandle = -1;

    virtual ~SerialApi() = default;
    // Exclusive open for reading and writing; kInvalidHandle on failure.
    virtual int open(const char* path) = 0;
    // Why the last open was refused, when it was for a reason of this service's
    // own (not a terminal, not the user's, a line no rig serves); empty otherwise.
    virtual std::string refusal() const { return {}; }
    virtual bool applySettings(int handle, const SerialLineSettings& settings) = 0;
    virtual bool applyTimeouts(int handle, const SerialTimeouts& timeouts) = 0;
    // Bytes written (possibly fewer than asked when the write time-out expires), -1 on failure.
    virtual long write(int handle, const uint8_t* bytes, size_t count) = 0;
    // Bytes read within the read time-outs (0 when nothing came), -1 on failure.
    virtual long read(int handle, uint8_t* buffer, size_t count) = 0;
    virtual bool setBreak(int handle) = 0;
    virtual bool clearBreak(int handle) = 0;
    // Abort and clear both directions.
    virtual bool purge(int handle) = 0;
    // Asks the driver to hand received bytes over at once instead of collecting
    // them (USB-serial chips wait up to 16 ms). False when the device cannot.
    virtual bool requestLowLatency(int) { return false; }
    // Bytes already received, taken without waiting for more; -1 on failure.
    virtual long readWaiting(int handle, uint8_t* buffer, size_t count) = 0;
    // How many received bytes wait to be read, without taking them; -1 when the
    // service cannot tell.
    virtual long countWaiting(int) { return -1; }
    // Waits until received bytes wait to be read or `timeoutUs` passed:
    // 1 bytes wait, 0 time-out, -1 failure.
    virtual int waitReadable(int handle, uint64_t timeoutUs) = 0;
    // The longest the device may hold received bytes before handing them over.
    virtual uint32_t deliveryLatencyUs(int) { return 16000; }
    virtual void close(int handle) = 0;
};
