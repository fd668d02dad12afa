#pragma once
// How complete a discovery run was. A run is complete when none of the rest
// applies; several may.
struct DiscoveryVerdict {
    bool cutShort = false;         // the time-out ended it
    bool stoppedByUser = false;
    bool listFull = false;         // the table had no room for a device that answered
    bool interfaceFailed = false;  // requests could not be written or replies read
    // Ranges of the UID space whose replies could not be resolved, and listed
    // devices whose discovery replies never came clean (a UID two devices share).
    int setAside = 0;

    bool complete() const { return !cutShort && !stoppedByUser && !listFull && !interfaceFailed && setAside == 0; }
};
