#include "settings/settings.h"

#include "link/interface_kinds.h"

#include <climits>

namespace {

using B = SettingsBounds;
using R = SettingField::OutOfRange;

} // namespace

const SettingField kSettingFields[kSettingCount] = {
    // A kind of the interface table; the value is kept in a byte, as the port keeps it.
    {"InterfaceType", 0, 0, kInterfaceKindCount - 1, R::Default,
     [](const SettingsRecord& s) { return int32_t(s.InterfaceType); },
     [](SettingsRecord& s, int32_t v) { s.InterfaceType = int8_t(v); }},
    {"UniverseSize", 24, B::kUniverseMin, B::kUniverseMax, R::Clamp,
     [](const SettingsRecord& s) { return int32_t(s.UniverseSize); },
     [](SettingsRecord& s, int32_t v) { s.UniverseSize = uint16_t(v); }},
    {"TimerType", 0, 0, B::kTimerKinds - 1, R::Default, [](const SettingsRecord& s) { return s.TimerType; },
     [](SettingsRecord& s, int32_t v) { s.TimerType = v; }},
    {"TabIndex", 0, 0, B::kPages - 1, R::Default, [](const SettingsRecord& s) { return s.TabIndex; },
     [](SettingsRecord& s, int32_t v) { s.TabIndex = v; }},
    {"DMXPeriod", 32, B::kPeriodMin, B::kPeriodMax, R::Clamp, [](const SettingsRecord& s) { return s.DMXPeriod; },
     [](SettingsRecord& s, int32_t v) { s.DMXPeriod = v; }},
    // -1 (nothing chosen) and rows beyond the list are both meaningful to the window.
    {"InterfaceSelection", 0, INT32_MIN, INT32_MAX, R::Keep,
     [](const SettingsRecord& s) { return s.InterfaceSelection; },
     [](SettingsRecord& s, int32_t v) { s.InterfaceSelection = v; }},
    {"discoTimeout", 10, B::kTimeoutMin, B::kTimeoutMax, R::Clamp,
     [](const SettingsRecord& s) { return s.discoTimeout; }, [](SettingsRecord& s, int32_t v) { s.discoTimeout = v; }},
    {"FastExchange", 0, 0, 1, R::Default, [](const SettingsRecord& s) { return s.FastExchange; },
     [](SettingsRecord& s, int32_t v) { s.FastExchange = v; }},
    {"AllParameters", 0, 0, 1, R::Default, [](const SettingsRecord& s) { return s.AllParameters; },
     [](SettingsRecord& s, int32_t v) { s.AllParameters = v; }},
    {"ArtNetWait", 500, B::kNodeWaitMin, B::kNodeWaitMax, R::Clamp,
     [](const SettingsRecord& s) { return s.NodeWaitMs; }, [](SettingsRecord& s, int32_t v) { s.NodeWaitMs = v; }},
};

int32_t SettingField::accept(int32_t stored) const
{
    if (stored >= min && stored <= max)
        return stored;
    switch (outOfRange) {
    case OutOfRange::Clamp: return stored < min ? min : max;
    case OutOfRange::Default: return defaultValue;
    case OutOfRange::Keep: break;
    }
    return stored;
}

void SetDefaults(SettingsRecord& s)
{
    for (const SettingField& field : kSettingFields)
        field.set(s, field.defaultValue);
}
