#include "app/settings.h"

const char* const kSettingNames[7] = {"InterfaceType", "UniverseSize", "TimerType", "TabIndex",
                                      "DMXPeriod", "InterfaceSelection", "discoTimeout"};

void SetDefaults(SettingsRecord& s)
{
    s.InterfaceType = 0;
    s.UniverseSize = 24;
    s.TimerType = 0;
    s.TabIndex = 0;
    s.DMXPeriod = 32;
    s.InterfaceSelection = 0;
    s.discoTimeout = 10;
}
