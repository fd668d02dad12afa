#pragma once
// The one way the window reaches the line. The service owns the interface, the
// RDM engine, discovery, the health watch and the worker thread. Pages hand it
// typed commands, each naming the device it is for; it runs them one after the
// other, in the order given, on the worker, and hands each result back as a value
// on the event thread. The worker sees only what a command carries and the
// service's own tables, never a widget or a page.
#include "app/rdm_runner.h"
#include "link/clock.h"
#include "link/interface_port.h"
#include "params/param_desc.h"
#include "params/param_edit.h"
#include "params/param_read.h"
#include "params/personalities.h"
#include "patch/rig_backup.h"
#include "rdm/device_table.h"
#include "rdm/discovery.h"
#include "rdm/health_watch.h"
#include "rdm/log_sink.h"
#include "rdm/transaction.h"

#include <QObject>
#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// What the service tells the window, on the event thread.
struct ServiceEvents {
    std::function<void(const std::string& line)> log;  // each log line, in order
    std::function<void(bool running)> running;          // the queue started or emptied
    std::function<void(const std::string& what, int done, int total)> progress;
    std::function<void(const std::string& error)> failed;  // a command threw
};

// What a discovery reports as it goes, on the event thread.
struct DiscoveryEvents {
    std::function<void()> stopOutput, resumeOutput;
    std::function<void()> cleared;  // the list starts over
    std::function<void(Uid uid)> found;  // the next device of the list
};

// What a Get hands over as it goes, on the event thread. Each carries the UID read.
struct DeviceReadEvents {
    std::function<void(Uid uid, int count)> listed;
    std::function<void(Uid uid, const std::optional<std::array<std::string, 9>>& info)> deviceInfo;
    std::function<void(Uid uid, const std::string& label)> softwareVersionLabel;  // Windows-1251
    std::function<void(Uid uid, int k, const RDMPARAMDESC& record, const std::string& value)> row;
};

struct CommitResult {
    Uid uid = 0;
    int index = -1;                   // the record's place in the table
    RDMPARAMDESC record;              // as the device now holds it
    std::optional<std::string> shown; // the cell's new text, when it changes
};

struct PersonalityResult {
    Uid uid = 0;
    int number = 0;
    SetOutcome sent;
    std::optional<rdm::DeviceInfo> info;  // read back after the choice
};

// A backup or a restore as it ended: stopped or cut off by the interface, what
// it read or wrote, and the devices a restore never reached.
struct BackupResult {
    std::vector<SavedDevice> devices;
    bool stopped = false, interfaceFailed = false;
};
struct RestoreResult : RestoreRun {
    bool stopped = false, interfaceFailed = false;
};

class RdmService : public LogSink {
public:
    using Task = RdmRunner::Task;

    // Results are handed to the event thread of `owner`, and dropped once it is
    // gone. `threaded` false runs each command at once on the calling thread.
    RdmService(SerialApi& serial, D2xx& d2xx, Clock& clock, bool threaded, QObject* owner, ServiceEvents events);
    ~RdmService() override;
    RdmService(const RdmService&) = delete;
    RdmService& operator=(const RdmService&) = delete;

    // Opening, closing and choosing the interface, between commands.
    InterfacePort& port() { return port_; }
    RdmEngine& engine() { return engine_; }
    void setFastExchange(bool on) { engine_.setFastExchange(on); }
    // Read by a discovery that runs: the number box may change it meanwhile.
    void setDiscoveryTimeout(int seconds) { discoveryTimeout_.store(seconds); }
    void setDetailedLog(bool on) { detailed_.store(on); }

    // Commands. Each result reaches `done` on the event thread.
    void discover(DiscoveryEvents events, std::function<void(const DiscoveryVerdict&)> done = {});
    bool fastExchange() const { return engine_.fastExchange(); }
    void readDevice(Uid uid, bool allParameters, DeviceReadEvents events, std::function<void()> done = {});
    using CellCommit = std::optional<std::string> (*)(RdmEngine&, Uid, RDMPARAMDESC&, const std::string&, bool);
    void commitValue(Uid uid, int index, const RDMPARAMDESC& record, const std::string& text, bool readBack,
                     CellCommit commit, std::function<void(const CommitResult&)> done);
    void sendRecord(Uid uid, int index, const RDMPARAMDESC& record,
                    std::function<void(const std::optional<RefusedValue>&)> done);
    void sendAll(Uid uid, const ParamTable& table, std::vector<std::string> texts,
                 std::function<void(Uid, const std::vector<RefusedValue>&, bool stopped)> done);
    void readPersonalities(Uid uid, int count, std::function<void(Uid, const std::vector<Personality>&)> done);
    void choosePersonality(Uid uid, int number, std::function<void(const PersonalityResult&)> done);
    void identify(Uid uid, bool on);
    void readPatch(const DeviceTable& table, int count,
                   std::function<void(Uid uid, uint16_t footprint, uint16_t startIndex)> row,
                   std::function<void()> done);
    void writePatch(const DeviceTable& table, int count, std::function<void()> done = {});
    // Every settable parameter of each device, as vantrell-cli backup reads them.
    void backup(std::vector<Uid> uids, std::function<void(const BackupResult&)> done);
    // Each device's kept values written back to it and read back, as vantrell-cli restore does.
    void restore(std::vector<SavedDevice> saved, std::function<void(const RestoreResult&)> done);
    // One round of the health watch over `listed`, which it follows from now on.
    void healthRound(const std::vector<Uid>& listed, std::function<void(const std::vector<DeviceHealth>&)> done);
    // The devices the watch followed in its last round, as it left them.
    const std::vector<DeviceHealth>& health() const { return health_; }

    // A command runs or waits.
    bool busy() const { return runner_.busy() || !queue_.empty(); }
    // Ends the command in progress after its current exchange; the queue goes on.
    void stop();
    // A stop was asked for the command in progress (or, in a result, for the one that ended).
    bool stopRequested() const { return runner_.stopRequested(); }
    // Drops what waits and ends the command in progress after its exchange.
    void stopAll();
    // Ends everything: the queue is dropped and the worker joined.
    void shutDown();
    // Runs `task` on the event thread: at once from there, queued from another.
    void post(Task task);

    void appendLine(const std::string& text) override;
    bool detailed() const override { return detailed_.load(); }

private:
    struct Command {
        std::string what;  // shown while it runs
        Task job;          // on the worker
        Task finished;     // on the event thread
    };
    void enqueue(std::string what, Task job, Task finished);
    void startNext();
    void announce();  // tells the window when the line becomes busy or free
    RunControl control(const std::string& unit);

    InterfacePort port_;
    RdmEngine engine_;
    ServiceEvents events_;
    QObject* owner_;
    std::thread::id eventThread_;
    std::atomic<int> discoveryTimeout_{5};
    std::atomic<bool> detailed_{false};
    std::deque<Command> queue_;
    bool announced_ = false;  // the window was told the line is busy
    // The worker's own tables: nothing the window shows is written from there.
    DeviceTable found_;
    ParamTable read_;
    DeviceTable patch_;
    std::unique_ptr<HealthWatch> watch_;
    std::vector<Uid> watched_;
    std::vector<DeviceHealth> health_;  // the event thread's copy
    // Last: stopped and joined before all it uses goes.
    RdmRunner runner_;
};
