// Patch files: whatever lies on disk under a .pat name.
#include "patch/patch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    std::vector<PatchRecord> records;
    std::string why;
    if (DecodePatch(bytes, records, why)) {
        if (records.size() > size_t(DeviceTable::kCapacity) || EncodePatch(records) != bytes)
            __builtin_trap();
    } else if (!records.empty()) {
        __builtin_trap();
    }
    return 0;
}
