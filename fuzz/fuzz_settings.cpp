// The settings file: any text in the INI store must load or give a message.
#include "settings/settings_store.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/vantrell-fuzz-settings-" + std::to_string(getpid()) + ".conf";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    SettingsRecord r;
    try {
        SettingsStore(path).Load(r);
        if (r.UniverseSize < 1 || r.UniverseSize > 512 || r.DMXPeriod < 1 || r.DMXPeriod > 1000 ||
            r.discoTimeout < 1 || r.discoTimeout > 100 || r.TabIndex < 0 || r.TabIndex >= SettingsBounds::kPages)
            __builtin_trap();
    } catch (const SettingsError&) {
    }
    return 0;
}
