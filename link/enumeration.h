#pragma once
// Lists the interfaces of one kind: serial devices (with the published virtual
// lines after them) or the FTDI devices the D2XX calls can open.
#include "link/d2xx.h"
#include "link/lines_folder.h"

#include <string>
#include <vector>

struct InterfaceEntry {
    std::string text;      // the row shown in the interface list
    std::string path;      // serial kinds: the device node to open
    int deviceNumber = 0;  // D2XX kinds: the number FT_Open counts by; a node's port: its Port-Address
    bool carriesRdm = true;  // false for a node's port that sends DMX only
};

// Appends the serial devices the system reports, then the published virtual lines.
// Returns how many entries it appended. A lines folder that is not to be trusted
// gives no rows; `note`, when given, then says why.
int EnumComPorts(std::vector<InterfaceEntry>& list, std::string* note = nullptr);

// Serial devices only: /sys/class/tty entries backed by a device, skipping the
// serial-core placeholders that have no UART behind them. No port is opened.
void ListSystemSerialDevices(std::vector<InterfaceEntry>& list);
// The same over another tty class folder, with nodes named under `devices`.
void ListSerialDevicesIn(const std::string& ttyClass, const std::string& devices, std::vector<InterfaceEntry>& list);
// The lines a living rig serves, in the checked folder.
void ListVirtualLines(std::vector<InterfaceEntry>& list, std::string* note = nullptr);

// The FTDI devices that can be opened now, "Device_<n> S/N: <serial>".
void FtSearch(D2xx& d2xx, std::vector<InterfaceEntry>& list);
