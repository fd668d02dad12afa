#pragma once
// The values kept between runs.
#include <cstdint>
#include <string>

struct SettingsRecord {
    int8_t InterfaceType = 0;
    int32_t InterfaceSelection = 0;
    uint16_t UniverseSize = 0;
    int32_t TimerType = 0;
    int32_t TabIndex = 0;
    int32_t DMXPeriod = 0;
    int32_t discoTimeout = 0;
    // Not among the first seven, so files written before it load unchanged: absent, it is off.
    int32_t FastExchange = 0;
    // Every standard parameter named and decoded on the RDM page, personalities by
    // a drop-down, and the map's blocks labelled. Absent (older files): off.
    int32_t AllParameters = 0;
    // The text of the interface row in use (device path, virtual line name, or FTDI
    // description and serial), kept beside its row number so that the same
    // interface is opened again when others join the list. Empty in files from
    // before it: the row number alone chooses.
    std::string InterfaceName;
    // The Art-Net nodes the window polls by address ("10.0.0.20, 10.0.1.20:6455"),
    // for nodes that a broadcast does not reach; empty: every node on each IPv4
    // interface's network is polled.
    std::string NodeAddresses;
    // How long an Art-Net node's reply is waited for, in ms.
    int32_t NodeWaitMs = 0;
    // Bit i: the stored text of kSettingFields[i] could not be read. The field has
    // its default, and saving leaves that text in the file as it was, unless the
    // field was changed since.
    uint32_t unreadable = 0;
};

// Bounds the settings page offers.
struct SettingsBounds {
    static constexpr int kUniverseMin = 1, kUniverseMax = 512;
    static constexpr int kPeriodMin = 1, kPeriodMax = 1000;
    static constexpr int kTimeoutMin = 1, kTimeoutMax = 100;
    static constexpr int kPages = 5;  // "Состояние" came fifth: older files keep their page
    static constexpr int kTimerKinds = 2;
    static constexpr int kNodeWaitMin = 10, kNodeWaitMax = 10000;
};

// One stored value: its name, its default, and what a stored value outside the
// window's range becomes (clamped into it, or the default).
struct SettingField {
    enum class OutOfRange { Clamp, Default, Keep };
    const char* name;
    int32_t defaultValue;
    int32_t min, max;
    OutOfRange outOfRange;
    int32_t (*get)(const SettingsRecord&);
    void (*set)(SettingsRecord&, int32_t);

    // The value a stored 32-bit number gives this field.
    int32_t accept(int32_t stored) const;
};

constexpr int kSettingCount = 10;

// In the order they are loaded and saved.
extern const SettingField kSettingFields[kSettingCount];

// Defaults of a first start: VCP, first row, 24 slots, standard timer, page "RDM",
// 32 ms, 10 s, fixed waits.
void SetDefaults(SettingsRecord& s);
