#pragma once
// A device's DMX personalities, for the page's drop-down.
#include "params/param_transfer.h"

#include <string>
#include <vector>

struct Personality {
    int number = 0;
    int footprint = 0;
    std::string description;  // Windows-1251, as the device sent it
    bool known = false;       // its DMX_PERSONALITY_DESCRIPTION came
};

// DMX_PERSONALITY_DESCRIPTION of personalities 1..count, one request each, each
// logged as the page logs a Get. A personality that did not answer is listed by
// its number alone.
std::vector<Personality> ReadPersonalities(RdmEngine& engine, Uid uid, int count);

// "2: Extended 24ch (24)", or "2" when its description did not come.
std::string PersonalityText(const Personality& p);

// SET DMX_PERSONALITY, logged as the page logs a Set.
SetOutcome SetPersonality(RdmEngine& engine, Uid uid, int number);
