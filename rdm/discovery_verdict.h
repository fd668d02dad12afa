#pragma once
// How complete a discovery run was. A run is complete when none of the rest
// applies; several may.
#include "rdm/uid.h"

#include <vector>

struct DiscoveryVerdict {
    bool cutShort = false;         // the time-out ended it
    bool stoppedByUser = false;
    bool listFull = false;         // the table had no room for a device that answered
    bool interfaceFailed = false;  // requests could not be written or replies read
    // Ranges of the UID space whose replies could not be resolved, and listed
    // devices whose discovery replies never came clean (a UID two devices share).
    int setAside = 0;

    // Why a range is set aside, or a listed device is in doubt.
    enum class Doubt : uint8_t {
        MuteNotAcknowledged,  // it answers branches but acknowledges no mute
        GarbledReplies,       // its replies never come clean
        Unresolved,           // replies keep coming, nothing in it can be isolated
        FarTooLate,           // it answers, later than any wait takes in time
        SharedUid,            // listed, but its discovery replies garble: two devices may share its UID
    };
    struct Range {
        Uid lower = 0, upper = 0;  // one UID when equal
        Doubt why = Doubt::Unresolved;
    };
    std::vector<Range> ranges;  // set aside, each named once in the log
    struct Listed {
        Uid uid = 0;
        Doubt why = Doubt::SharedUid;
    };
    std::vector<Listed> doubtful;  // listed with a word of doubt
    // A node's table that did not come whole (cutShort then): why.
    std::string incompleteTable;

    bool complete() const { return !cutShort && !stoppedByUser && !listFull && !interfaceFailed && setAside == 0; }
};
