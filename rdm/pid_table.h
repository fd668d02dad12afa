#pragma once
// The standard parameter IDs of E1.20 and E1.37-1 in one table: each PID's name
// as the standards spell it and the field layouts of its GET and SET (pid_layouts.h
// says how a layout is written). Names and layouts are read from here alone.
#include <cstdint>

struct PidEntry {
    uint16_t pid;
    const char* name;        // "DMX_START_ADDRESS"
    const char* getRequest;  // nullptr: GET not defined for the PID
    const char* getReply;
    const char* setRequest;  // nullptr: SET not defined for the PID
    const char* setReply;

    // Discovery PIDs are named but not read or written by GET and SET.
    bool hasLayout() const { return getRequest || setRequest; }
};

// Every standard PID, in ascending order.
const PidEntry* PidTableBegin();
const PidEntry* PidTableEnd();
// The PID's entry, or null for a PID the standards do not name.
const PidEntry* FindPidEntry(uint16_t pid);
