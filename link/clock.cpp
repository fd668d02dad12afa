#include "link/clock.h"

#include <cerrno>
#include <ctime>

uint64_t MonotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

uint32_t SystemClock::tickMs() { return static_cast<uint32_t>(MonotonicUs() / 1000); }

uint64_t SystemClock::nowUs() { return MonotonicUs(); }

void SystemClock::sleepMs(uint32_t ms) { sleepUs(uint64_t(ms) * 1000); }

void SystemClock::sleepUs(uint64_t us)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(us / 1000000u);
    ts.tv_nsec = static_cast<long>((us % 1000000u) * 1000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

void VirtualClock::hold()
{
    std::lock_guard<std::mutex> lock(holdMutex_);
    held_ = true;
}

void VirtualClock::release()
{
    {
        std::lock_guard<std::mutex> lock(holdMutex_);
        held_ = false;
        allowed_ = 0;
    }
    released_.notify_all();
}

void VirtualClock::allow(int sleeps)
{
    {
        std::lock_guard<std::mutex> lock(holdMutex_);
        allowed_ += sleeps;
    }
    released_.notify_all();
}

void VirtualClock::sleepUs(uint64_t us)
{
    {
        std::unique_lock<std::mutex> lock(holdMutex_);
        released_.wait(lock, [this] { return !held_ || allowed_ > 0; });
        if (held_)
            --allowed_;
    }
    now_ += us;
    const double pace = pace_.load();
    if (pace > 0)
        SystemClock::instance().sleepUs(uint64_t(double(us) * pace));
}

SystemClock& SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}
