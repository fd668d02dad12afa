#pragma once
// Benchmarks meet the rig as the app meets a serial interface: over a real
// pseudo-terminal, in real time (the test suite's PtyHarness).
#include "harness.h"
#include "rdm/line_timing.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <cstdio>
#include <cstdlib>

inline void ServeOrExit(PtyHarness& h)
{
    if (!h.serveLine()) {
        std::fprintf(stderr, "cannot serve the rig line on a pseudo-terminal\n");
        std::exit(1);
    }
}

inline double NowMs() { return double(MonotonicUs()) / 1000.0; }

// A fresh port and engine on the fast exchange, as each run of the command-line
// tool has: a serial line's path, or a node port's ("127.0.0.2:6455/1").
struct BenchClient {
    PosixSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, SystemClock::instance(), log};

    explicit BenchClient(const std::string& path, int kind = KindStandardVcp)
    {
        port.PortInit();
        port.setKind(int8_t(kind));
        port.setNodeLocalPort(0);  // beside whatever holds Art-Net's own port
        port.setDevicePath(path.c_str());
        engine.SetupRequestHeader();
        engine.setFastExchange(true);
        if (port.PortOpen() != 1) {
            std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(),
                         port.refusal().empty() ? std::strerror(errno) : port.refusal().c_str());
            std::exit(1);
        }
    }
    ~BenchClient() { port.PortClose(); }
};

// An LED par that lists `parameters` PIDs: two standard ones, the rest its own.
inline rig::ResponderModel ModelWithParameters(int parameters)
{
    rig::ResponderModel m = rig::LedParModel();
    m.manufacturerParams.clear();
    m.supportedParameters = {rdm::DEVICE_LABEL, rdm::DMX_START_ADDRESS};
    for (int i = 0; int(m.supportedParameters.size()) < parameters; ++i) {
        rig::ManufacturerParam p;
        p.pid = uint16_t(0x8000 + i);
        p.description = "Setting " + std::to_string(i);
        p.dataType = i % 2 ? 5 : 3;
        p.pdlSize = i % 2 ? 2 : 1;
        p.value.assign(p.pdlSize, uint8_t(i));
        m.manufacturerParams.push_back(p);
        m.supportedParameters.push_back(p.pid);
    }
    return m;
}

struct Bounds {
    double physicalMs = 0, fixedMs = 0;
    size_t requests = 0;
};

// Both bounds for what the rig's records show of one run.
inline Bounds BoundsOf(const rig::VirtualLine& line, bool discoveryRun)
{
    const auto requests = line.requests();
    const auto replies = line.replies();
    Bounds b;
    b.requests = requests.size();
    b.fixedMs = discoveryRun ? 100.0 : 0.0;
    size_t r = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        const rig::RecordedRequest& q = requests[i];
        const uint64_t end = q.timeUs + q.bytes.size() * line_timing::kByteUs;
        const uint64_t next = i + 1 < requests.size() ? requests[i + 1].timeUs : UINT64_MAX;
        uint64_t replyEnd = 0;
        for (; r < replies.size() && replies[r].timeUs < next; ++r)
            replyEnd = std::max<uint64_t>(replyEnd, replies[r].timeUs + replies[r].bytes.size() * line_timing::kByteUs);
        const bool branch = q.decoded.pid == rdm::DISC_UNIQUE_BRANCH;
        const bool broadcast = q.decoded.destination == kBroadcastUid && !branch;
        double us = double(line_timing::PacketUs(int(q.bytes.size())));
        if (replyEnd)
            us += double(replyEnd - end);
        else
            us += broadcast ? double(line_timing::kAfterBroadcastUs) : double(line_timing::kResponseLostUs);
        b.physicalMs += us / 1000.0;
        // The fixed waits, and the serial read's time-outs: 1 ms past a reply, or
        // the whole read when nothing comes (40 bytes a branch, 200 a transaction,
        // nothing for a broadcast).
        if (branch)
            b.fixedMs += 20.0 + (replyEnd ? 1.0 : 41.0);
        else
            b.fixedMs += 50.0 + (broadcast ? 1.0 : replyEnd ? 1.0 : 201.0);
    }
    return b;
}
