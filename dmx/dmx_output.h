#pragma once
// The DMX512 transmitter: the universe buffer, one frame at a time, and the
// high-resolution timer that sends frames from its own thread.
#include "dmx/hires_timer.h"
#include "link/clock.h"
#include "link/interface_port.h"

#include <atomic>

#include <functional>
#include <string>

class DmxOutput {
public:
    static constexpr int kMaxSlots = 512;

    // `universeSize` is the settings field, read anew for every frame.
    DmxOutput(InterfacePort& port, uint16_t& universeSize, Clock& clock = SystemClock::instance())
        : port_(port), universeSize_(universeSize), clock_(clock)
    {
    }

    // The least time a frame of `slotCount` slots after its start code takes on the
    // line: break, mark after break and 44 us per slot. No frame is handed to the
    // interface before the one before it has had this long, so a period shorter
    // than a frame sends frames back to back and no faster.
    static constexpr uint64_t FrameUs(int slotCount) { return 176 + 12 + uint64_t(slotCount + 1) * 44; }
    ~DmxOutput() { DmxTimerStop(); }

    void ZeroUniverse();
    void SetSlot(int slot, uint8_t level);  // slot 1..512
    uint8_t Slot(int slot) const;           // slot 0 is the start code

    // One frame: a break and the start code with the slots (kinds 0 and 1), or one
    // label-6 widget message (kind 2). Returns the PortWrite result.
    int SendFrame();

    // The high-resolution kind.
    void DmxTimerStart(int periodMs);
    void DmxTimerStop();
    uint32_t dmxTimerId() const { return dmxTimerId_.load(); }
    HiResTimer& timer() { return timer_; }

    // Runs on the timer thread when a frame could not be written; the window hands
    // the line over to its own thread.
    std::function<void(const std::string&)> onHighResFailure;

    static constexpr const char* kHighResFailure = "no Talvern widget found";

private:
    void DmxTimerProc();
    int SendDmxFrame();

    InterfacePort& port_;
    uint16_t& universeSize_;
    Clock& clock_;
    std::atomic<uint64_t> lineFreeAtUs_{0};  // when the last frame handed over has left the line
    uint8_t universe_[kMaxSlots + 1] = {};
    uint8_t frame_[kMaxSlots + 1] = {};
    HiResTimer timer_;
    std::atomic<uint32_t> dmxTimerId_{0};
};
