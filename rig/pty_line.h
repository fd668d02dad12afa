#pragma once
// Publishes a virtual line as a pseudo-terminal, so the app opens it like a serial
// device. A pty carries no break, so packets are told apart by their content: an
// RDM request by its start code and length byte, anything else (a DMX frame) by
// the idle gap after it or by a read that begins with a request's head. Replies are written back as a real line would deliver
// them to a UART: an ordinary reply after one 0x00 byte (the responder's break),
// a discovery reply without.
#include "link/lines_folder.h"
#include "rig/virtual_line.h"

#include <atomic>
#include <string>
#include <thread>

namespace rig {

class PtyLine {
public:
    explicit PtyLine(VirtualLine& line) : line_(line) {}
    ~PtyLine();

    // Opens the pty and, when `name` is given, publishes it as
    // <virtual-line folder>/<name> (see LinePublication). Returns false with
    // `error` set on failure.
    bool open(const std::string& name, std::string& error);
    void start();  // serve the line on a thread of its own
    void stop();   // stop serving and remove the published entry

    // Whether ordinary replies come after the 0x00 byte that a UART makes of the
    // responder's break; off, as from an adapter that does not report breaks.
    bool breakBytes = true;
    // Whether the serving thread asks for real-time scheduling (granted to root
    // only): off, it runs as an ordinary user's rig does.
    bool realTime = true;
    // On a paced line, replies reach the pty byte by byte at the line's pace. A
    // latency timer (µs, 0: none) models a USB-serial chip that hands received
    // bytes over only at each tick of its timer: 16 ms as ftdi_sio leaves it,
    // 1 ms with low latency.
    uint32_t latencyUs = 0;
    // Widget mode: the pty speaks as an Enttec USB Pro widget does over its USB
    // serial side, in framed messages both ways (as behind an emulated FTDI chip),
    // instead of carrying the line's bytes. The widget listens this long after a
    // request for a reply before it reports its time-out.
    bool widget = false;
    uint64_t widgetWaitUs = kWidgetTimeoutUs;

    const std::string& slavePath() const { return slavePath_; }
    const std::string& publishedPath() const { return publication_.path(); }

    static constexpr int kFrameGapUs = 1500;

    // Splits a byte stream into packets; used by the serving thread and by tests.
    class Splitter {
    public:
        // Feeds the bytes of one read; returns the packets it completes: RDM
        // requests, and a frame cut short by a request's head.
        std::vector<std::vector<uint8_t>> feed(const uint8_t* bytes, size_t count);
        // Called when the line has been quiet since the last byte; flushes a frame.
        std::vector<uint8_t> idle();
        bool pending() const { return !buffer_.empty(); }

    private:
        std::vector<uint8_t> buffer_;
    };

private:
    void serve();

    VirtualLine& line_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
    LinePublication publication_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

} // namespace rig
