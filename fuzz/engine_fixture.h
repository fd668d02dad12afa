#pragma once
// One engine over a serial line the fuzzer scripts, kept across inputs (as the
// program keeps it across requests) and reset between them.
#include "answering_serial.h"
#include "harness.h"

struct FuzzEngine : ScriptedEngine<AnsweringSerial> {
    FuzzEngine() { log.detailedOn = true; }

    // A fresh line for one input; its first byte picks the exchange (fixed waits
    // or fast), the rest is the script.
    void start(const uint8_t*& data, size_t& size)
    {
        log.lines.clear();
        engine.setFastExchange(size && (data[0] & 1));
        engine.resetLateMargin();
        if (size) {
            ++data;
            --size;
        }
        serial.feed(data, size);
    }
};
