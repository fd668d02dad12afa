#pragma once
// What every vantrell-cli command shares: its options, the interface it opens,
// and one line on stderr for whatever did not fully succeed.
#include "app/cli_output.h"
#include "link/ftdi_d2xx.h"
#include "link/interface_port.h"
#include "link/posix_serial.h"
#include "patch/auto_address.h"
#include "rdm/discovery.h"
#include "rdm/parameter_exchange.h"

#include <string>
#include <vector>

namespace cli {

enum Exit {
    kDone = 0,
    kDeviceFailed = 1,
    kUsage = 2,
    kNoInterface = 3,
    // A discovery that was not complete; the list printed is what it found.
    kCutShort = 4,
    kSetAside = 5,
    // Writes or reads on the interface failed mid-run: it was pulled or broke.
    kInterfaceFailed = 6,
    kStopped = 7,
    // watch --once: a device reports a warning or an error.
    kWarnings = 8,
};

struct Options {
    int kind = 0;
    bool kindGiven = false;
    std::string interface;
    // Art-Net: the node port's Port-Address (0..32767), or every RDM port of the
    // node (discover only), and how long a node's reply is waited for.
    int universe = 0;
    bool everyUniverse = false;
    uint32_t nodeWaitMs = 500;
    bool universeGiven = false, nodeWaitGiven = false;
    // Art-Net discover: the node discovers its line afresh before it gives its table.
    bool nodeFlush = false;
    int storedRow = 0;
    std::string storedName;
    int timeout = 10;
    int period = 32;
    double seconds = 0;  // 0: until interrupted
    double every = 6;    // watch: seconds from one round to the next
    bool once = false;   // watch: one snapshot
    bool detailed = false, raw = false, fixedWaits = false;
    uint16_t subDevice = 0;        // 1..512, or 0xFFFF (every sub-device) for a SET
    bool listSubDevices = false;   // info: each sub-device's DEVICE_INFO too
    Discovery::Search search = Discovery::Search::FollowExchange;
    Format format = Format::Table;
    // patch auto: the first start address, the free slots between devices, their
    // order, and where the arrangement before the change is kept (empty: a file
    // named by the time, in the current folder).
    int firstAddress = 1;
    int gap = 0;
    AddressOrder order = AddressOrder::Address;
    std::string undoFile;
    // backup and restore: the devices to work on instead of a discovery's.
    std::vector<Uid> uids;
    // restore: compare only; kept devices written to replacements; another model allowed.
    bool dryRun = false;
    std::vector<std::pair<Uid, Uid>> maps;
    bool force = false;
};

// Both print "vantrell-cli: MESSAGE" and return kUsage; a usage error adds where
// the commands are described.
int UsageError(const std::string& message);
int ValueError(const std::string& message);
// Ctrl-C, SIGTERM and SIGHUP alike ask the running command to stop: it sends
// nothing more, closes the interface and ends with the status its help gives
// (watch and dmx: 0; any other command cut short: 7). Caught from the start.
void CatchStopSignals();
bool StopRequested();
// "SIGTERM", or "" when no stop was asked.
std::string StopSignalName();

// A decimal number as typed: digits only (a '-' first when `min` is negative), no
// blanks, signs, or other bases, within [min, max].
bool Decimal(const std::string& text, long min, long max, long& out);

// The longest argument taken: a path, at most.
constexpr size_t kMaxArgument = 4096;
// An interface's row text or path: the port keeps a path of up to 259 bytes, and
// one longer is not cut to another.
constexpr size_t kMaxInterfaceText = 260;

// An argument as a message quotes it: in quotes, its control characters escaped,
// cut after 64 bytes with the length said.
std::string Quoted(const std::string& argument);

// "DMX_START_ADDRESS", or "0x8001" for a PID the standards do not name.

// What went wrong in one command, gathered so that it is said in one line:
// "vantrell-cli: 7FF0:00000001: no reply to DEVICE_LABEL; refused SENSOR_VALUE (DATA_OUT_OF_RANGE)".
class Problems {
public:
    // Notes a failed exchange; true when it was the interface that failed.
    bool note(Uid uid, uint16_t pid, const ParameterReply& reply);
    void add(Uid uid, const std::string& what);
    bool interfaceFailed() const { return interfaceFailed_; }
    bool empty() const { return entries_.empty() && !interfaceFailed_; }
    // Says it all on stderr; the exit status: kDone when nothing went wrong.
    int report() const;
    // How long a reply was waited for, said after the line when a device gave none
    // (a node's wait, which the user may lengthen); empty: not said.
    std::string replyWait;

private:
    std::vector<std::pair<Uid, std::string>> entries_;
    bool interfaceFailed_ = false;
    bool noReply_ = false;
};

// The log goes to stderr: dumps with -v.
class StderrLog final : public LogSink {
public:
    explicit StderrLog(bool detailed) : detailed_(detailed) {}
    void appendLine(const std::string& text) override;
    bool detailed() const override { return detailed_; }

private:
    bool detailed_;
};

struct Session {
    Options options;
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port{serial, d2xx};
    StderrLog log;
    RdmEngine engine{port, SystemClock::instance(), log};
    Problems problems;

    explicit Session(const Options& o);
    // Opens the interface the options choose; false, said on stderr, when none could be.
    bool open();
    bool openNodePort();  // open() for a kind that reaches a node on the network
};

} // namespace cli
