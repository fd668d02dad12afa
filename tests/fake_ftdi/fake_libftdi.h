#pragma once
// A stand-in for libftdi1 (and the few libusb calls it hands out) that the D2XX
// layer can be linked against in tests. It keeps the rules the real libraries
// rely on and reports every breach as a contract violation:
// - a device is opened through the context whose device list found it;
// - a context is not freed while a device found through it is still open;
// - no device is opened with the kernel-driver detach mode left at auto-detach;
// - nothing is used after its context was freed.
// Behind each fake chip sits the rig: the raw line ("Talvern") or a USB Pro widget.
#include "link/clock.h"
#include "rig/ftdi_device_model.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct ftdi_context;

namespace fakeftdi {

struct Chip {
    Chip(rig::VirtualLine& line, rig::FtdiMode mode) : model(line, mode) {}

    rig::FtdiDeviceModel model;
    std::string serial;
    std::string description = "FT232R USB UART";
    bool plugged = true;
    bool boundToSio = false;  // the kernel's ftdi_sio driver holds it (a /dev/ttyUSB node)
    bool takenFromSio = false;

    // What the controller configured, for the tests to read back.
    int latencyMs = 16;
    int baudrate = 9600;
    int bits = -1, stopBits = -1, parity = -1;
    int flowControl = -1;
    bool breakOn = false;
    int breaks = 0;
    int receivePurges = 0;
    int transmitPurges = 0;
    int resets = 0;

    // Bulk reads hand over at most this many bytes per call (one USB packet's payload).
    size_t readChunk = 62;
    // After this many more bytes have been read, the next read fails once (-1: never).
    long failReadAfter = -1;
    // The next write fails once.
    bool failNextWrite = false;
    // The libftdi call (by name) that fails while this chip is open, once.
    std::string failCall;

    ftdi_context* openBy = nullptr;
};

class Bus {
public:
    static Bus& get();

    // Forgets every chip and context; the clock paces reads.
    void reset(Clock& clock);
    Chip& add(rig::VirtualLine& line, rig::FtdiMode mode, const std::string& serial);
    Chip& chip(size_t i) { return chips_.at(i); }

    // Pulling the cable: open handles fail with LIBUSB_ERROR_NO_DEVICE, the chip
    // leaves the bus. Plugging it back lists it again as a new device.
    void unplug(Chip& chip);
    void replug(Chip& chip);

    int liveContexts() const;
    Clock& clock() { return *clock_; }

    std::vector<std::string> violations;
    std::function<void(const std::string&)> onViolation;
    void violation(const std::string& what);

    // Bookkeeping used by the fake functions.
    std::deque<Chip> chips_;
    Clock* clock_ = &SystemClock::instance();
};

} // namespace fakeftdi
