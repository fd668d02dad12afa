#pragma once
// A periodic timer on a thread of its own, keeping an absolute schedule: each tick
// is due one period after the previous one was due, not after it ran, so sleeps
// never accumulate drift. Asks for real-time priority and runs without it if refused.
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class HiResTimer {
public:
    ~HiResTimer();

    // Starts ticking every `periodMs`; the first tick is one period from now.
    // Returns the timer id (never 0), or 0 when a timer already runs.
    uint32_t start(int periodMs, std::function<void()> tick);
    // Stops the timer; from another thread it waits until the last tick is over.
    // From inside a tick it only asks the thread to end after that tick.
    void stop();
    bool running() const { return running_.load(); }
    bool realtime() const { return realtime_.load(); }

    // CPU time the timer thread has used so far, in microseconds.
    uint64_t threadCpuUs() const { return cpuUs_.load(); }

private:
    void loop(int periodMs);

    std::thread thread_;
    std::atomic<std::thread::id> loopThread_{};  // set by the timer thread itself
    std::function<void()> tick_;
    std::atomic<bool> running_{false};
    std::atomic<bool> realtime_{false};
    std::atomic<uint64_t> cpuUs_{0};
    uint32_t nextId_ = 1;
};
