#include "dmx/hires_timer.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>

HiResTimer::~HiResTimer() { stop(); if (thread_.joinable()) thread_.join(); }

uint32_t HiResTimer::start(int periodMs, std::function<void()> tick)
{
    if (running_.load())
        return 0;
    if (thread_.joinable())
        thread_.join();  // a timer that stopped itself from inside its tick
    if (periodMs < 1)
        periodMs = 1;
    tick_ = std::move(tick);
    running_.store(true);
    thread_ = std::thread([this, periodMs] { loop(periodMs); });
    uint32_t id = nextId_++;
    if (nextId_ == 0)
        nextId_ = 1;
    return id;
}

void HiResTimer::stop()
{
    running_.store(false);
    // From inside a tick the thread ends by itself; the next start or stop joins it.
    if (loopThread_.load() == std::this_thread::get_id())
        return;
    if (thread_.joinable())
        thread_.join();
}

void HiResTimer::loop(int periodMs)
{
    loopThread_.store(std::this_thread::get_id());
    sched_param param{};
    param.sched_priority = 10;
    realtime_.store(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0);

    const long periodNs = long(periodMs) * 1000000L;
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (;;) {
        due.tv_nsec += periodNs;
        while (due.tv_nsec >= 1000000000L) {
            due.tv_nsec -= 1000000000L;
            ++due.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        if (!running_.load())
            break;
        tick_();
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        cpuUs_.store(uint64_t(cpu.tv_sec) * 1000000u + uint64_t(cpu.tv_nsec) / 1000u);
        if (!running_.load())
            break;
        // A tick that overran by whole periods skips them instead of bursting.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t behindNs = (int64_t(now.tv_sec) - due.tv_sec) * 1000000000LL + (now.tv_nsec - due.tv_nsec);
        if (behindNs > periodNs)
            due = now;
    }
}
