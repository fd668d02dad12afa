#pragma once
// A rig served over a real pseudo-terminal and a port opened on it, in real time,
// as the app would meet a serial interface.
#include "link/posix_serial.h"
#include "rdm/transaction.h"
#include "rig/pty_line.h"
#include "rig/rig_d2xx.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

class QuietLog : public LogSink {
public:
    void appendLine(const std::string&) override {}
    bool detailed() const override { return false; }
};

struct PtyBench {
    rig::VirtualLine line{SystemClock::instance()};
    rig::PtyLine pty{line};
    PosixSerial serial;
    rig::RigD2xx noD2xx;
    InterfacePort port{serial, noD2xx};
    QuietLog log;
    RdmEngine engine{port, SystemClock::instance(), log};

    void start()
    {
        std::string error;
        if (!pty.open("", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        pty.start();
        port.PortInit();
        port.setDevicePath(pty.slavePath().c_str());
        if (port.PortOpen() != 1) {
            std::fprintf(stderr, "cannot open %s\n", pty.slavePath().c_str());
            std::exit(1);
        }
        engine.SetupRequestHeader();
    }
    ~PtyBench()
    {
        port.PortClose();
        pty.stop();
    }
};

inline double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
