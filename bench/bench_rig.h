#pragma once
// Benchmarks meet the rig as the app meets a serial interface: over a real
// pseudo-terminal, in real time (the test suite's PtyHarness).
#include "harness.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

inline void ServeOrExit(PtyHarness& h)
{
    if (!h.serveLine()) {
        std::fprintf(stderr, "cannot serve the rig line on a pseudo-terminal\n");
        std::exit(1);
    }
}

inline double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
