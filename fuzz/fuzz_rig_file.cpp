// Rig files as a user writes them: any JSON, any value of any key.
#include "rig/rig_file.h"

#include <cstdio>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/fuzz-rig-" + std::to_string(getpid()) + ".json";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    VirtualClock clock;
    rig::VirtualLine line(clock);
    std::string name, error;
    if (rig::LoadRigFile(path, line, name, error) && line.responders().size() > size_t(rig::kMaxRigDevices) * 2)
        __builtin_trap();  // twins aside, the cap holds
    return 0;
}
