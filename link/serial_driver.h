#pragma once
// "Стандартный VCP": a serial device node through the serial-port service.
#include "link/line_driver.h"
#include "link/serial_api.h"

class SerialDriver final : public LineDriver {
public:
    SerialDriver(InterfacePort& port, SerialApi& serial) : LineDriver(port), serial_(serial) {}

    int open() override;
    void close() override;
    int write(const uint8_t* bytes, int count) override;
    int read(uint8_t* buffer, int count) override;
    void lineBreak() override;
    void purge() override;
    int readWaiting(uint8_t* buffer, int count) override;
    int countWaiting() override;
    void waitForInput(Clock& clock, uint64_t us) override;
    uint32_t latencyUs() const override { return latencyUs_; }
    void list(std::vector<InterfaceEntry>& rows) override;
    void choose(const InterfaceEntry& row) override;

private:
    bool isOpen() const;
    SerialApi& serial_;
    uint32_t latencyUs_ = 16000;
};
