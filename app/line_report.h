#pragma once
// A short, pasteable report of one interface and the line behind it: which
// interface was opened and how, one discovery, and DEVICE_INFO from each device
// found. The protocol code is the window's own; only the output differs.
#include "link/clock.h"
#include "link/interface_kinds.h"
#include "link/interface_port.h"

#include <ostream>
#include <string>

struct LineReportOptions {
    int kind = KindStandardVcp;
    // A row number, a row's text, a device path, or (FTDI kinds) a serial number;
    // empty: the interface the window last used, by its text (`storedName`) or,
    // from older settings, its row.
    std::string interface;
    int storedRow = 0;
    std::string storedName;
    // The Art-Net nodes the window polls by address (empty: every node on the
    // machine's networks), and how long a node's reply is waited for.
    std::string nodeAddresses;
    uint32_t nodeWaitMs = 500;
    int timeoutSeconds = 10;
    bool detailed = false;  // the request and reply dumps of the detailed log
};

// Returns 0 when the interface opened (whatever the line answered), 1 when it
// could not be found or opened.
int RunLineReport(InterfacePort& port, Clock& clock, const LineReportOptions& options, std::ostream& out);
