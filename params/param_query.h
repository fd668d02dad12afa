#pragma once
// The device's own account of its parameters, into the editor's table.
#include "params/param_desc.h"
#include "rdm/transaction.h"

// Fills `table.supportedPids` from SUPPORTED_PARAMETERS and returns their count
// (every PID of the reply, up to the list's capacity).
int GetSupportedParameters(RdmEngine& engine, Uid uid, ParamTable& table);

// Clears `record`, then fills it from the device's PARAMETER_DESCRIPTION of `pid`.
void GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, RDMPARAMDESC& record);
