#pragma once
// Finds the RDM devices on the line by binary search over the UID space with
// DISC_UNIQUE_BRANCH, muting each device as it is isolated.
#include "rdm/device_table.h"
#include "rdm/discovery_verdict.h"
#include "rdm/run_control.h"
#include "rdm/discovery_line.h"

#include <functional>
#include <iterator>
#include <string>
#include <vector>

// What a discovery run tells the tool around it as it goes, and asks of it.
struct DiscoveryHooks {
    std::function<void()> starting;   // before its first request: the line must be its own
    std::function<void()> ended;      // after its last request
    std::function<void()> restarted;  // the devices found before are forgotten
    std::function<void(Uid)> found;   // the next device listed
    std::function<int()> timeoutSeconds;
    // Optional: a stop asked for ends the run as its time-out would.
    std::function<bool()> stopRequested = {};
    // Optional: devices found so far and the run's time, after each request.
    std::function<void(int found, uint32_t elapsedMs)> progress = {};
};

class Discovery {
public:
    // Found devices go to a device table, which holds 33 as the window lists them.
    Discovery(DiscoveryLine& engine, DeviceTable& table, DiscoveryHooks hooks)
        : engine_(engine), table_(&table), hooks_(std::move(hooks))
    {
    }
    // Found devices go to `list`, without a bound.
    Discovery(DiscoveryLine& engine, std::vector<Uid>& list, DiscoveryHooks hooks)
        : engine_(engine), list_(&list), hooks_(std::move(hooks))
    {
    }

    static constexpr Uid kLowest = 0;
    static constexpr Uid kHighest = 0xFFFFFFFFFFFEull;  // the broadcast UID itself is excluded

    // How the UID space is searched: the halving that restarts from the whole
    // range after each device, or a walk of the UID tree that splits every
    // colliding range in two. By default the tree goes with the fast exchange.
    enum class Search { FollowExchange, Halving, Tree };
    Search search = Search::FollowExchange;

    // An incremental run (a list kept, no table): nothing is un-muted first and the
    // list keeps the devices already on it, so that only devices that are new, or
    // came back un-muted after a power cycle, answer. Listed ones are muted again
    // without a second entry.
    bool incremental = false;
    // An interface that keeps its own table of devices (an Art-Net node) is asked
    // to discover afresh before it gives it.
    bool fullNodeDiscovery = false;

    // One discovery run, from the un-mute to the summary line and the verdict.
    DiscoveryVerdict Run();
    // The run for an interface that gives its own table of devices.
    DiscoveryVerdict RunFromNodeTable(bool whole, const std::vector<Uid>& uids, const std::string& note);
    const DiscoveryVerdict& verdict() const { return verdict_; }

    BranchResult DiscoveryBranch(Uid lowerBound, Uid upperBound);
    TxResult MuteDevice(Uid uid);
    TxResult UnMuteDevice(Uid uid);

    static std::string SummaryText(uint32_t elapsedMs, int devices);

    // A device whose mute has failed this often in one run is set aside for the
    // rest of it: otherwise the search isolates it again and again and never
    // reaches the devices below it.
    static constexpr int kMuteAttempts = 3;
    // Ranges set aside in one run at most, whatever the reason.
    static constexpr int kMaxSetAside = 8;
    // How often the silence of every range is asked again before the run believes
    // it: once on a line that has behaved, more after signs of lost replies.
    static constexpr int kConfirmations = 1;
    static constexpr int kDoubtfulConfirmations = 3;
    // How long after an unanswered mute a run listens for its acknowledgement
    // coming too late, letting go by what else comes meanwhile.
    static constexpr uint32_t kLateAnswerListenMs = 1000;
    // How long the fast exchange listens for late replies before it believes a line
    // on which it found nobody at all.
    static constexpr uint64_t kEmptyLineListenUs = 100000;
    // Passes in a row that end without isolating anything before the range that
    // keeps answering is set aside.
    static constexpr int kMisledPasses = 4;
    // Upper halves silent in a row after which a doubtful halving pass asks
    // whether the range left answers at all.
    static constexpr int kSilentStepsToCheck = 6;
    // How often the tree search asks one range again after muting a device it
    // isolated there; the next sweep of the whole range picks up any left.
    static constexpr int kMaxTreeAsks = 64;

    Uid lastFoundUid = 0;

private:
    enum class Why : uint8_t { MuteFails, Garbled, Unresolved };
    struct SetAside {
        Uid lower;
        Uid upper;
        Why why;
    };
    enum class Pass { Found, SetAside, Misled, Ended };

    bool timedOut();
    // Sends a branch and reads the signs the engine gathered with it; the run ends
    // (`ended_`) when the interface has failed.
    BranchResult branch(Uid lower, Uid upper);
    // Searches every range between set-aside ones until all are silent; false when
    // the run has ended.
    bool searchAll();
    // One pass over [first, last], which answered `r`.
    Pass narrow(Uid first, Uid last, BranchResult r);
    // Counts the last exchange's link failure; true once two in a row have
    // failed, which ends the run with the interface-failed verdict.
    bool interfaceGone();
    // Mutes and lists `uid`, which a branch isolated. A UID that acknowledges no
    // mute and then answers no branch of its own is no device (the sum of replies
    // that collided) or one that answers too late: Misled, and the search goes on
    // as after a collision.
    Pass isolated(Uid uid);
    // A clean reply from outside the range asked: a late answer to an earlier
    // branch, or the sum of colliding replies from inside the range. Only a mute
    // acknowledged by that very UID tells the first; it is then listed (true).
    bool proveStray(Uid uid);
    // Notes a UID whose mutes went unanswered; named at the end if it proves to
    // answer late. The first time, the replies such a device may still have on
    // their way are let go by before the search goes on.
    void unanswered(Uid uid, bool answersInTime = false);
    // Names the devices whose mute acknowledgements came too late; their count.
    int nameLateDevices();
    // The pass narrowed to {lower, upper} without isolating a device.
    Pass unresolved(Uid lower, Uid upper);
    // `uid` alone answers with garbled replies.
    Pass garbled(Uid uid);
    // The whole tree under [first, last], which answered `r`: every colliding
    // range split in two, the upper half first; a range that isolated a device
    // asked again once it is muted.
    Pass tree(Uid first, Uid last, BranchResult r);
    bool treeSearch() const
    {
        return search == Search::Tree || (search == Search::FollowExchange && engine_.fastExchange());
    }
    // The first set-aside range that overlaps [lower, upper], or -1.
    int setAsideWithin(Uid lower, Uid upper) const;
    // The ranges between set-aside ones, highest first: `k` from the count down to 0.
    bool segment(int k, Uid& lower, Uid& upper) const;
    bool setAside(Uid lower, Uid upper, Why why);
    // Counts a failed mute of `uid`; true when it has just been set aside.
    bool muteFailed(Uid uid);
    bool listed(Uid uid) const;
    void list(Uid uid);
    int foundCount() const;
    Uid foundAt(int i) const;
    bool full() const;
    void logVerdict();
    // After a late sign: whether the engine's wait grew since last seen (then said in the log).
    bool lateMarginGrew();

    struct MuteFailures {
        Uid uid;
        int count;
    };
    static constexpr int kTrackedFailures = 64;
    MuteFailures muteFailures_[kTrackedFailures] = {};
    int muteFailureCount_ = 0;
    // UIDs isolated or met out of range whose mutes nobody acknowledged in time.
    static constexpr int kTrackedUnanswered = 16;
    Uid unanswered_[kTrackedUnanswered] = {};
    int unansweredCount_ = 0;
    bool triedStrayNow_ = false;  // proveStray muted in vain just now
    // The last exchange was a branch over this range that nobody answered in time.
    struct Range {
        Uid lower = 0, upper = 0;
    };
    bool lastSilent_ = false;
    Range lastSilentRange_;
    // A range judged silent whose reply came late, for the tree to search again.
    bool revisitPending_ = false;
    Range revisit_;
    uint8_t lastMuteTransaction_ = 0;
    SetAside setAside_[kMaxSetAside] = {};  // ascending and apart
    int setAsideCount_ = 0;
    // Set-aside ranges already named in the log this run, so each is named once.
    SetAside named_[kMaxSetAside * 2] = {};
    int namedCount_ = 0;

    uint32_t t0_ = 0;
    bool ended_ = false;
    bool timeUp_ = false;    // the time-out has passed: one more look at the top, then the end
    Uid answeredLower_ = 0;  // the narrowest range that answered in the last pass
    Uid answeredUpper_ = 0;
    bool doubtful_ = false;  // the line has lost, garbled or delayed replies this run
    int linkFailures_ = 0;
    int lastListens_ = 0;  // listens for late replies before the run ended
    uint32_t marginGrowths_ = 0;  // the engine's count of late-margin growths, as last seen
    int suspects_ = 0;       // listed devices whose discovery replies never came clean
    DiscoveryVerdict verdict_;

    DiscoveryLine& engine_;
    DeviceTable* table_ = nullptr;
    std::vector<Uid>* list_ = nullptr;
    DiscoveryHooks hooks_;
};
