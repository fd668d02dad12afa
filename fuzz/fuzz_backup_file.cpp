// Backup files: whatever lies on disk under the name a restore is given.
#include "patch/backup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<SavedDevice> devices;
    std::string why;
    if (!DecodeBackup({data, data + size}, devices, why)) {
        if (!devices.empty() || why.empty())
            __builtin_trap();
        return 0;
    }
    // What was taken written again reads back the same: each value keeps its limits.
    std::vector<SavedDevice> again;
    if (!DecodeBackup(EncodeBackup(devices), again, why) || again.size() != devices.size())
        __builtin_trap();
    for (size_t i = 0; i < devices.size(); ++i) {
        if (again[i].uid != devices[i].uid || again[i].values.size() != devices[i].values.size())
            __builtin_trap();
        for (size_t k = 0; k < devices[i].values.size(); ++k)
            if (ValueText(again[i].values[k].fields) != ValueText(devices[i].values[k].fields))
                __builtin_trap();
    }
    return 0;
}
