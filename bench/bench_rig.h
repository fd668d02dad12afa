#pragma once
// Benchmarks meet the rig as the app meets a serial interface: over a real
// pseudo-terminal, in real time (the test suite's PtyHarness).
#include "harness.h"

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
