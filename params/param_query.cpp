#include "params/param_query.h"

#include "rdm/device_info.h"

int GetSupportedParameters(RdmEngine& engine, Uid uid, ParamTable& table)
{
    const int listed = GetSupportedParameters(engine, uid, table.supportedPids, ParamTable::kCapacity);
    return listed < ParamTable::kCapacity ? listed : ParamTable::kCapacity;
}

void GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, RDMPARAMDESC& record)
{
    record.Clear();
    rdm::ParameterDescription description;
    if (GetParameterDescription(engine, uid, pid, description))
        FillFromParameterDescription(description, record);
}
