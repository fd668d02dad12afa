#include "params/personalities.h"

#include "rdm/parameter_exchange.h"

#include <algorithm>
#include <cstdio>

std::vector<Personality> ReadPersonalities(RdmEngine& engine, Uid uid, int count)
{
    std::vector<Personality> out;
    for (int n = 1; n <= count && n <= 255; ++n) {
        Personality p;
        p.number = n;
        char line[24];
        std::snprintf(line, sizeof line, "Get PID %04X:", unsigned(rdm::DMX_PERSONALITY_DESCRIPTION));
        engine.log().appendLine(line);
        const ParameterReply r = ExchangeParameter(engine, uid, rdm::GET_COMMAND, rdm::DMX_PERSONALITY_DESCRIPTION,
                                                   {uint8_t(n)});
        // personality, footprint (two bytes), then up to 32 bytes of text
        if (r.result == TxAck && r.data.size() >= 3 && r.data.size() <= 35 && r.data[0] == n) {
            p.footprint = r.data[1] << 8 | r.data[2];
            p.description.assign(r.data.begin() + 3, r.data.end());
            p.description.resize(std::min(p.description.size(), p.description.find('\0')));
            p.known = true;
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::string PersonalityText(const Personality& p)
{
    if (!p.known)
        return std::to_string(p.number);
    return std::to_string(p.number) + ": " + p.description + " (" + std::to_string(p.footprint) + ")";
}

SetOutcome SetPersonality(RdmEngine& engine, Uid uid, int number)
{
    const uint8_t data = uint8_t(number);
    return SetParamBytes(engine, uid, rdm::DMX_PERSONALITY, &data, 1);
}
