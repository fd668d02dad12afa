#pragma once
// A rig's settings kept and put back. A backup holds, per device, every parameter
// it lets be both read and set (labels, start address, personality, the standard
// settings it lists, and its own parameters as their descriptions give them),
// each value field by field. A restore writes them to the same device or to a
// replacement, personality first, start address next, and reads every value back.
#include "rdm/parameter_exchange.h"
#include "rdm/standard_replies.h"
#include "rdm/pid_layouts.h"

#include <functional>
#include <string>
#include <vector>

struct SavedValue {
    uint16_t pid = 0;
    std::string name;            // E1.20's name, or the description a maker's parameter gives (UTF-8)
    bool manufacturer = false;   // described by the device rather than by E1.20
    std::string layout;          // the fields a SET takes, in the notation of pid_layouts.h
    std::vector<PidField> fields;  // the value in that layout; texts as the device keeps them (Windows-1251)
    // The range a maker's description gives its numbers, kept so that a file's
    // value is checked before anything is sent.
    bool limited = false;
    int64_t min = 0, max = 0;
};

// A parameter that was to be kept and was not, and why.
struct MissingValue {
    uint16_t pid = 0;
    std::string name;
    std::string why;  // "no reply", "refused (DATA_OUT_OF_RANGE)", "does not fit its layout"
};

struct SavedDevice {
    Uid uid = 0;
    bool read = false;  // its DEVICE_INFO came: what follows is the device's
    uint16_t model = 0;
    uint32_t softwareVersion = 0;
    std::string manufacturerLabel, modelDescription, softwareVersionLabel;  // UTF-8, empty when not given
    uint8_t personality = 0;
    uint16_t footprint = 0;
    uint16_t startAddress = 0;  // 0xFFFF without a footprint
    std::vector<SavedValue> values;
    std::vector<MissingValue> missing;

    uint16_t manufacturer() const { return uid.manufacturer(); }
};

// How a backup or a restore of one device goes on: a stop asked between
// exchanges, and whether the interface failed (then nothing more is asked).
struct BackupRun {
    std::function<bool()> stopRequested;
    bool stopped = false;
    bool interfaceFailed = false;
    bool goOn();
};

// Reads everything a backup keeps of one device.
SavedDevice BackUpDevice(RdmEngine& engine, Uid uid, BackupRun& run);

enum class RestoreOutcome {
    Unchanged,     // the device already held the value; nothing was sent
    Restored,      // sent, and read back as kept
    WouldChange,   // a dry run: it differs, nothing was sent
    Skipped,       // another model, which lacks the parameter or describes it otherwise
    Refused,       // the device refused the SET (or the GET before it)
    NoReply,
    ReadsBack,     // acknowledged, but reads back otherwise
    NotSupported,  // the same model no longer lists the parameter
    BadValue,      // the file's value does not fit the parameter
    NotWritten,    // the restore stopped (or the interface failed) before it
};

struct RestoreStep {
    Uid uid = 0;  // the device written
    uint16_t pid = 0;
    std::string name;
    std::string saved;   // the value kept, as text
    std::string before;  // what the device held, as text; empty when not read
    RestoreOutcome outcome = RestoreOutcome::NoReply;
    std::string detail;  // a NACK's reason, the value read back, what differs

    // Whether the device now holds what was kept (or, in a dry run, would).
    bool matches() const;
};

// Writes `saved` to `target` (the device it came from, or a replacement). With
// `onlyShared`, a parameter the target lacks or describes otherwise is skipped;
// otherwise it is a mismatch. A dry run reads and compares and sends no SET.
std::vector<RestoreStep> RestoreDevice(RdmEngine& engine, const SavedDevice& saved, Uid target, bool dryRun,
                                       bool onlyShared, BackupRun& run);

// Each device in turn until a stop or a failed interface; `progress`, when
// given, hears each before it is read (0-based).
using DeviceProgress = std::function<void(size_t done, size_t total, Uid uid)>;
std::vector<SavedDevice> BackUpDevices(RdmEngine& engine, const std::vector<Uid>& uids, BackupRun& run,
                                       const DeviceProgress& progress = {});

// A kept device and the device it is written to, itself or a replacement.
struct RestoreTarget {
    const SavedDevice* saved = nullptr;
    Uid uid = 0;
    bool onlyShared = false;  // a replacement of another model: only what both support
};
struct RestoreRun {
    std::vector<RestoreStep> steps;
    std::vector<Uid> notReached;  // targets a stop or a failed interface left untouched
};
RestoreRun RestoreDevices(RdmEngine& engine, const std::vector<RestoreTarget>& targets, bool dryRun, BackupRun& run,
                          const DeviceProgress& progress = {});

// Why `target` may not take the settings of `saved` without being forced: its
// maker or model differs. Empty when it may.
std::string CloneMismatch(const SavedDevice& saved, Uid target, const rdm::DeviceInfo& targetInfo);

// A value as a report shows it: one field as its value, several as name=value,
// texts quoted, in UTF-8.
std::string ValueText(const std::vector<PidField>& fields);
// "unchanged", "restored", "refused (DATA_OUT_OF_RANGE)", "reads back 7"…
std::string OutcomeText(const RestoreStep& step);

// The report both the command line and the window give: aligned lines of device,
// parameter, kept value, value before and outcome, control characters escaped.
std::vector<std::string> RestoreReportLines(const std::vector<RestoreStep>& steps);
// One line per device of a backup: what was kept and what is missing.
std::vector<std::string> BackupReportLines(const std::vector<SavedDevice>& devices);

// Whether the fields keep the limits of their parameter: a start address within
// the universe, a personality from 1, a maker's numbers within its description's
// range. False with `why` naming the value at fault.
bool WithinLimits(const SavedValue& value, std::string& why);

// The standard PIDs a backup keeps when a device lists them: read with no data,
// set with the fields the GET returns (its count fields aside); not counters,
// clocks, actions or passing states.
bool KeptStandardPid(uint16_t pid);
