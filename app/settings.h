#pragma once
// The seven values kept between runs.
#include <cstdint>

struct SettingsRecord {
    int8_t InterfaceType = 0;
    int32_t InterfaceSelection = 0;
    uint16_t UniverseSize = 0;
    int32_t TimerType = 0;
    int32_t TabIndex = 0;
    int32_t DMXPeriod = 0;
    int32_t discoTimeout = 0;
};

// Bounds the settings page offers.
struct SettingsBounds {
    static constexpr int kUniverseMin = 1, kUniverseMax = 512;
    static constexpr int kPeriodMin = 1, kPeriodMax = 1000;
    static constexpr int kTimeoutMin = 1, kTimeoutMax = 100;
    static constexpr int kPages = 4;
};

// Defaults of a first start: VCP, first row, 24 slots, standard timer, page "RDM",
// 32 ms, 10 s.
void SetDefaults(SettingsRecord& s);

// The value names, in the order they are loaded and saved.
extern const char* const kSettingNames[7];
