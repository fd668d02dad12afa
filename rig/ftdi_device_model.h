#pragma once
// What sits behind an FTDI chip's USB side: the DMX line itself (a raw chip,
// breaks set through the driver) or an Enttec USB Pro widget that takes framed
// messages and answers in framed messages. Shared by every fake FTDI transport.
#include "rig/rx_queue.h"

#include <utility>
#include <vector>

namespace rig {

enum class FtdiMode { Raw, Widget };

class FtdiDeviceModel {
public:
    FtdiDeviceModel(VirtualLine& line, FtdiMode mode) : line_(&line), mode_(mode) {}

    VirtualLine& line() { return *line_; }
    FtdiMode mode() const { return mode_; }
    RxQueue& rx() { return rx_; }

    // A fresh open: nothing waiting either way.
    void reset();
    // The controller's break: on a raw chip the next write is a packet responders hear.
    void lineBreak() { breakSeen_ = true; }
    void purgeReceive();
    // Bytes the controller wrote to the chip.
    void write(const uint8_t* bytes, size_t count);

    // Widgets: how long after a request's end a reply may start and still be passed
    // on; the time-out report comes once this has passed without one.
    uint64_t listenUs = kWidgetTimeoutUs;
    // Widgets: whether a request to every device, which nobody answers, is also
    // reported with the time-out message once the widget has listened.
    bool reportsBroadcastTimeout = true;
    // Raw chips: whether the UART reports a responder's break as a 0x00 byte.
    bool breaksReported = true;
    // Widget messages the controller wrote, as (label, data), when set.
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>>* widgetLog = nullptr;

private:
    void widgetMessage(uint8_t label, const std::vector<uint8_t>& data);

    VirtualLine* line_;
    FtdiMode mode_;
    RxQueue rx_;
    bool breakSeen_ = false;
    std::vector<uint8_t> pending_;  // widget bytes not yet a whole message
};

} // namespace rig
