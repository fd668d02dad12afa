#pragma once
// Benchmarks meet the rig as the app meets a serial interface: over a real
// pseudo-terminal, in real time (the test suite's PtyHarness).
#include "harness.h"
#include "rig/fixtures.h"

#include <cstdio>
#include <cstdlib>

inline void ServeOrExit(PtyHarness& h)
{
    if (!h.serveLine()) {
        std::fprintf(stderr, "cannot serve the rig line on a pseudo-terminal\n");
        std::exit(1);
    }
}

inline double NowMs() { return double(MonotonicUs()) / 1000.0; }

// An LED par that lists `parameters` PIDs: two standard ones, the rest its own.
inline rig::ResponderModel ModelWithParameters(int parameters)
{
    rig::ResponderModel m = rig::LedParModel();
    m.manufacturerParams.clear();
    m.supportedParameters = {rdm::DEVICE_LABEL, rdm::DMX_START_ADDRESS};
    for (int i = 0; int(m.supportedParameters.size()) < parameters; ++i) {
        rig::ManufacturerParam p;
        p.pid = uint16_t(0x8000 + i);
        p.description = "Setting " + std::to_string(i);
        p.dataType = i % 2 ? 5 : 3;
        p.pdlSize = i % 2 ? 2 : 1;
        p.value.assign(p.pdlSize, uint8_t(i));
        m.manufacturerParams.push_back(p);
        m.supportedParameters.push_back(p.pid);
    }
    return m;
}
