#pragma once
// Finds the RDM devices on the line by binary search over the UID space with
// DISC_UNIQUE_BRANCH, muting each device as it is isolated.
#include "rdm/device_table.h"
#include "rdm/run_control.h"
#include "rdm/transaction.h"

#include <functional>
#include <string>

// What a discovery run needs from the window around it.
struct DiscoveryHooks {
    std::function<void()> stopOutput;    // the DMX output, both timer kinds
    std::function<void()> resumeOutput;  // the page-change handler
    std::function<void()> clearList;     // the device list's rows
    std::function<void(const std::string&)> addRow;
    std::function<int()> timeoutSeconds;
    // Optional: a stop asked for ends the run as its time-out would.
    std::function<bool()> stopRequested = {};
    // Optional: devices found so far and the run's time, after each request.
    std::function<void(int found, uint32_t elapsedMs)> progress = {};
};

class Discovery {
public:
    Discovery(RdmEngine& engine, DeviceTable& table, DiscoveryHooks hooks)
        : engine_(engine), table_(table), hooks_(std::move(hooks))
    {
    }

    static constexpr Uid kLowest = 0;
    static constexpr Uid kHighest = 0xFFFFFFFFFFFEull;  // the broadcast UID itself is excluded

    // One discovery run, from the un-mute to the summary line.
    void Run();

    BranchResult DiscoveryBranch(Uid lowerBound, Uid upperBound);
    TxResult MuteDevice(Uid uid);
    TxResult UnMuteDevice(Uid uid);

    static std::string SummaryText(uint32_t elapsedMs, int devices);

    // A device whose mute has failed this often in one run is left out of the
    // rest of it: otherwise the search isolates it again and again and never
    // reaches the devices below it.
    static constexpr int kMuteAttempts = 3;
    static constexpr int kMaxExcluded = 8;

    Uid lastFoundUid = 0;

private:
    bool timedOut(uint32_t t0);
    // The UID range between excluded devices `k` - 1 and `k` (0 <= k <= the count);
    // false when it is empty.
    bool segment(int k, Uid& lower, Uid& upper) const;
    // Counts a failed mute of `uid`; true when it has just been excluded.
    bool muteFailed(Uid uid);

    struct MuteFailures {
        Uid uid;
        int count;
    };
    bool stoppedByUser_ = false;
    MuteFailures muteFailures_[DeviceTable::kCapacity + kMaxExcluded] = {};
    int muteFailureCount_ = 0;
    Uid excluded_[kMaxExcluded] = {};  // ascending
    int excludedCount_ = 0;

    RdmEngine& engine_;
    DeviceTable& table_;
    DiscoveryHooks hooks_;
};
