#pragma once
// An RDM engine wired to an in-process rig on a virtual clock.
#include "link/interface_port.h"
#include "link/posix_serial.h"
#include "rdm/transaction.h"
#include "rig/rig_d2xx.h"
#include "rig/pty_line.h"
#include "rig/rig_serial.h"
#include "rig/virtual_line.h"

#include <string>
#include <vector>

// Parameter data as a vector, to compare.
inline std::vector<uint8_t> Bytes(const rdm::ParamData& data) { return {data.begin(), data.end()}; }

// The reply of the last Transact, for the checks after it.
inline rdm::RdmResponse& LastReply()
{
    static rdm::RdmResponse reply;
    return reply;
}

// One request of `commandClass` and `pid` to `uid` through the engine.
inline TxResult Transact(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid, const uint8_t* data = nullptr,
                         size_t count = 0, int readLength = rdm::kReplyReadLength)
{
    return engine.RdmTransaction(rdm::RdmRequest(uid, commandClass, pid, data, count), LastReply(), readLength);
}

class RecordingLog : public LogSink {
public:
    // Lines as the log pane shows them: a text's CR LF starts a new line.
    std::vector<std::string> lines;
    bool detailedOn = false;

    void appendLine(const std::string& text) override
    {
        for (std::string& line : SplitLogLines(text))
            lines.push_back(std::move(line));
    }
    bool detailed() const override { return detailedOn; }
    int count(const std::string& line) const
    {
        int n = 0;
        for (const auto& l : lines)
            n += l == line;
        return n;
    }
};

// An engine on a serial line the test writes itself (ScriptedSerial, or a line
// built on it), opened as a standard VCP port.
template <typename Serial> struct ScriptedEngine {
    VirtualClock clock;
    Serial serial{clock};
    rig::RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, clock, log};

    explicit ScriptedEngine(uint64_t startUs = 0) : clock(startUs)
    {
        port.PortInit();
        port.setKind(KindStandardVcp);
        port.setDevicePath("/dev/scripted");
        port.PortOpen();
        engine.SetupRequestHeader();
    }
};

struct RigHarness {
    VirtualClock clock{1000000};
    rig::VirtualLine line{clock};
    rig::RigSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, clock, log};

    static constexpr const char* kPath = "/dev/rig-test";

    explicit RigHarness(int kind = KindStandardVcp)
    {
        serial.attach(kPath, line);
        d2xx.addDevice(line, rig::FtdiMode::Raw, "RIGRAW01");
        d2xx.addDevice(line, rig::FtdiMode::Widget, "RIGPRO01");
        port.PortInit();
        connect(kind);
        engine.SetupRequestHeader();
    }

    bool connect(int kind)
    {
        port.PortClose();
        port.setKind(int8_t(kind));
        port.setDevicePath(kPath);
        port.setDeviceIndex(kind == KindEnttecUsbPro ? 1 : 0);
        return port.PortOpen() == 1;
    }
};

// A port and engine on a real serial device node, in real time; `serveLine`
// publishes the rig line on a pseudo-terminal and opens that.
struct PtyHarness {
    rig::VirtualLine line{SystemClock::instance()};
    rig::PtyLine pty{line};
    PosixSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, SystemClock::instance(), log};

    bool openPort(const std::string& path)
    {
        port.PortInit();
        port.setDevicePath(path.c_str());
        engine.SetupRequestHeader();
        return port.PortOpen() == 1;
    }

    bool serveLine()
    {
        std::string error;
        if (!pty.open("", error))
            return false;
        pty.start();
        return openPort(pty.slavePath());
    }

    ~PtyHarness()
    {
        port.PortClose();
        pty.stop();
    }
};
