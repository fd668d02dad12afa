#pragma once
// The listed RDM devices: row i of the device list is entry i.
#include "rdm/uid.h"

#include <cstdint>

struct DeviceEntry {
    Uid uid = 0;
    uint16_t startIndex = 0;  // DMX start address minus 1
    uint16_t footprint = 0;
};

struct DeviceTable {
    static constexpr int kCapacity = 33;
    DeviceEntry entries[kCapacity];
    uint8_t deviceCount = 0;  // devices added by the last discovery run

    void ClearUids()
    {
        for (DeviceEntry& e : entries)
            e.uid = 0;
    }
};
