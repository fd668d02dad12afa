#pragma once
// Everything that waits goes through one clock, so tests can run on virtual time.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

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

// Time moves only when somebody sleeps or advances it explicitly. A paced clock
// also spends a share of each sleep for real, so that work on another thread takes
// long enough to be watched, stopped or raced against.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint64_t startUs = 0) : now_(startUs) {}
    uint32_t tickMs() override { return static_cast<uint32_t>(now_.load() / 1000); }
    uint64_t nowUs() override { return now_.load(); }
    void sleepMs(uint32_t ms) override { sleepUs(uint64_t(ms) * 1000); }
    void sleepUs(uint64_t us) override;
    void advanceUs(uint64_t us) { now_ += us; }
    // Real microseconds spent per virtual microsecond slept (0: none).
    void pace(double realPerVirtual) { pace_.store(realPerVirtual); }
    // While held, a sleep on another thread waits until the clock is let go, so
    // that a test can look at work frozen between two of its steps; `allow` lets
    // that many more sleeps through while it stays held, to step the work on.
    void hold();
    void release();
    void allow(int sleeps);

private:
    std::atomic<uint64_t> now_;
    std::atomic<double> pace_{0};
    std::mutex holdMutex_;
    std::condition_variable released_;
    bool held_ = false;
    int allowed_ = 0;  // sleeps let through while held
};
