#pragma once
// Auto-addressing: the devices that take DMX slots get start addresses one after
// another from a first address, in an order the user chooses, with free slots
// between them if asked.
#include "patch/patch_file.h"

#include <string>
#include <vector>

enum class AddressOrder {
    Uid,      // by UID, lowest first
    Address,  // as they stand now: by current start address, then UID
    Label,    // by device label (bytes as the device sent them), then UID
};

struct AddressedDevice {
    Uid uid = 0;
    uint16_t startIndex = 0;  // as it stands: start address minus 1
    uint16_t footprint = 0;
    std::string label;
};

// The new arrangement: every device with a footprint, in `order`, the first at
// `firstAddress` (1..512) and each next one `gap` slots after the end of the one
// before; devices without a footprint are left out, as they take no slot. False,
// with `why` naming the first device that would run past slot 512, when the
// universe cannot hold them all.
bool AutoAddress(std::vector<AddressedDevice> devices, int firstAddress, int gap, AddressOrder order,
                 std::vector<PatchRecord>& arrangement, std::string& why);

// The name of the patch file that keeps the arrangement before an auto-addressing,
// by the local time: "patch-before-auto-20261210-103241.pat".
std::string BeforeAutoFileName();
