// Patch files: whatever lies on disk under a .pat name.
#include "patch/patch_file.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    std::vector<PatchRecord> records;
    std::string why;
    if (DecodePatch(bytes, records, why)) {
        // The records read back as the file's leading bytes; what follows them is ignored.
        const std::vector<uint8_t> encoded = EncodePatch(records);
        if (records.size() > size_t(DeviceTable::kCapacity) || encoded.size() > bytes.size() ||
            !std::equal(encoded.begin(), encoded.end(), bytes.begin()))
            __builtin_trap();
    } else if (!records.empty()) {
        __builtin_trap();
    }
    return 0;
}
