#include "rdm/uid.h"

#include <cstdio>

std::string UidLogText(Uid uid)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(uid));
    return text;
}

std::string UidColonText(Uid uid)
{
    char text[24];
    std::snprintf(text, sizeof text, "%04X:%08X", unsigned(UidManufacturer(uid)), unsigned(UidDevice(uid)));
    return text;
}

std::string UidListText(Uid uid)
{
    char text[24];
    std::snprintf(text, sizeof text, "%04X%08X", unsigned(UidManufacturer(uid)), unsigned(UidDevice(uid)));
    return text;
}
