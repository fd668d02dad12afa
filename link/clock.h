#pragma once
// Everything that waits goes through one clock, so tests can run on virtual time.
#include <cstdint>

// Microseconds of CLOCK_MONOTONIC; for code below the Clock interface (the line
// transports, the rig's own pacing) that must not run on virtual time.
uint64_t MonotonicUs();

class Clock {
public:
    virtual ~Clock() = default;
    // Wrapping 32-bit millisecond tick counter; differences are taken modulo 2^32.
    virtual uint32_t tickMs() = 0;
    // Monotonic microseconds, for time-outs finer than a tick.
    virtual uint64_t nowUs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    virtual void sleepUs(uint64_t us) = 0;
};

class SystemClock final : public Clock {
public:
    uint32_t tickMs() override;
    uint64_t nowUs() override;
    void sleepMs(uint32_t ms) override;
    void sleepUs(uint64_t us) override;
    static SystemClock& instance();
};

// Time moves only when somebody sleeps or advances it explicitly.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint64_t startUs = 0) : now_(startUs) {}
    uint32_t tickMs() override { return static_cast<uint32_t>(now_ / 1000); }
    uint64_t nowUs() override { return now_; }
    void sleepMs(uint32_t ms) override { now_ += uint64_t(ms) * 1000; }
    void sleepUs(uint64_t us) override { now_ += us; }
    void advanceUs(uint64_t us) { now_ += us; }

private:
    uint64_t now_;
};
