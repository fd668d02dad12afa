#include "patch/patch_map.h"

namespace patch_map {

Rgb ColourForCount(int count)
{
    if (count <= 0)
        return kFree;
    if (count == 1)
        return kOne;
    if (count == 2)
        return kTwo;
    return kOverlap;
}

std::array<uint8_t, kSlots> SlotCounts(const DeviceTable& table, int rows, int selected, uint16_t position)
{
    std::array<uint8_t, kSlots> counts{};
    if (rows > DeviceTable::kCapacity)
        rows = DeviceTable::kCapacity;
    for (int i = 0; i < rows; ++i) {
        const DeviceEntry& e = table.entries[i];
        const bool isSelected = i == selected;
        const int start = isSelected ? position : e.startIndex;
        const int weight = isSelected ? 2 : 1;
        for (int slot = start; slot < start + e.footprint && slot < kSlots; ++slot)
            counts[size_t(slot)] = uint8_t(counts[size_t(slot)] + weight > 255 ? 255 : counts[size_t(slot)] + weight);
    }
    return counts;
}

uint16_t IndexAt(int x, int y) { return uint16_t((y / kCell) * kColumns + (x / kCell)); }

} // namespace patch_map
