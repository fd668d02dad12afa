#pragma once
// The universe map: 512 slots in 16 rows of 32 cells of 13 pixels, each coloured
// by how many devices use the slot (the selected device counts twice).
#include "rdm/device_table.h"

#include <array>
#include <cstdint>

namespace patch_map {

constexpr int kCell = 13;
constexpr int kColumns = 32;
constexpr int kRows = 16;
constexpr int kSlots = 512;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kFree{255, 255, 255};
constexpr Rgb kOne{0, 255, 0};
constexpr Rgb kTwo{128, 0, 128};
constexpr Rgb kOverlap{255, 0, 0};

Rgb ColourForCount(int count);

// Slot counts for `rows` devices of the table; the `selected` row (-1 for none) is
// drawn at `position` and counts 2. Footprints are cut at slot 512.
std::array<uint8_t, kSlots> SlotCounts(const DeviceTable& table, int rows, int selected, uint16_t position);

// The start index a pointer at (x, y) in map pixels points to, as an unsigned
// 16-bit number (a pointer above or left of the map gives a very large one).
uint16_t IndexAt(int x, int y);

// Whether a device of `footprint` slots may start at `index`.
inline bool Fits(uint16_t index, uint16_t footprint) { return int(index) + footprint <= kSlots; }

} // namespace patch_map
