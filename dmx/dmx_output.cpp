#include "dmx/dmx_output.h"

#include <atomic>

// The faders write single slots on the event thread while the timer thread reads
// the whole buffer; relaxed atomic byte access keeps that well defined without a lock.
void DmxOutput::ZeroUniverse()
{
    for (uint8_t& b : universe_)
        std::atomic_ref<uint8_t>(b).store(0, std::memory_order_relaxed);
}

void DmxOutput::SetSlot(int slot, uint8_t level)
{
    if (slot >= 1 && slot <= kMaxSlots)
        std::atomic_ref<uint8_t>(universe_[slot]).store(level, std::memory_order_relaxed);
}

uint8_t DmxOutput::Slot(int slot) const
{
    if (slot < 0 || slot > kMaxSlots)
        return 0;
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(universe_[slot])).load(std::memory_order_relaxed);
}

int DmxOutput::SendFrame()
{
    int slots = std::atomic_ref<uint16_t>(universeSize_).load(std::memory_order_relaxed);
    if (slots > kMaxSlots)
        slots = kMaxSlots;
    const int length = slots + 1;

    // Frames handed over faster than the line carries them would pile up in the
    // interface (or a receiver's queue); this one waits for the line instead.
    const uint64_t now = clock_.nowUs();
    const uint64_t freeAt = lineFreeAtUs_.load();
    if (freeAt > now)
        clock_.sleepUs(freeAt - now);
    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    for (int i = 0; i < length; ++i)
        frame_[i] = Slot(i);
    const int written = port_.SendDmxFrame(frame_, length);
    lineFreeAtUs_.store(clock_.nowUs() + FrameUs(slots));
    return written;
}

int DmxOutput::SendDmxFrame() { return SendFrame(); }

void DmxOutput::DmxTimerProc()
{
    if (SendDmxFrame() == 0) {
        if (onHighResFailure)
            onHighResFailure(kHighResFailure);
        DmxTimerStop();
    }
}

void DmxOutput::DmxTimerStart(int periodMs)
{
    dmxTimerId_.store(timer_.start(periodMs, [this] { DmxTimerProc(); }));
}

void DmxOutput::DmxTimerStop()
{
    timer_.stop();
    dmxTimerId_.store(0);
}
