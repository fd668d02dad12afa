#pragma once
// The interface kinds, in one table: how the tools name each, how the window
// shows it, and how its interfaces are told apart. Nothing outside link/ needs to
// know which kind is which.
#include "link/enumeration.h"
#include "link/interface_port.h"

#include <cstdint>
#include <string>
#include <vector>

struct InterfaceKindInfo {
    int8_t kind;              // the value the port and the settings keep
    const char* token;        // as vantrell-cli and vantrell-line-report take it
    const char* displayName;  // as the window shows it
    bool byDevicePath;        // opened by a device node's path, not an FTDI device number
    // A node on the network: its ports are listed by polling (only when asked for
    // by the command line), and a port is known by its node's address and its
    // Port-Address rather than by the row's text.
    bool onNetwork;
};

// Every kind, in the order of their values.
inline constexpr InterfaceKindInfo kInterfaceKinds[] = {
    {KindStandardVcp, "vcp", "Стандартный VCP", true, false},
    {KindTalvern, "talvern", "Talvern", false, false},
    {KindEnttecUsbPro, "usbpro", "Enttec USB Pro", false, false},
    {KindArtNet, "artnet", "Art-Net", true, true},
};
// The window offers them all, in this order; the settings keep a kind by its place.
constexpr int kInterfaceKindCount = int(sizeof kInterfaceKinds / sizeof kInterfaceKinds[0]);
// The kind's row of the table, or null for a value that names none.
const InterfaceKindInfo* FindInterfaceKind(int kind);
// Whether the kind reaches a node on the network (see InterfaceKindInfo::onNetwork).
bool KindOnNetwork(int kind);

// A token ("vcp", "talvern", "usbpro", also "enttec") or a value ("0".."2") to a
// kind; -1 when it names none.
int ParseInterfaceKind(const std::string& text);
// "Стандартный VCP" and the like; "?" for a value that names none.
const char* InterfaceKindName(int kind);

// What the settings keep to find a row of `kind` again: its text (a device path,
// a virtual line's name, an FTDI description and serial), or for a node's port,
// whose name may change, its path (the node's address and the Port-Address).
const std::string& InterfaceIdentity(int kind, const InterfaceEntry& row);

// The row of `rows`, listed for `kind`, that `choice` names: a row number, a row's
// text (a virtual line's name among them), a device path, or an FTDI serial
// number; an empty choice takes the stored interface: the row whose identity is
// `storedName`, none when no row has it (another device in its place is not
// opened), or `storedRow` when no name was stored. A device path that the list
// does not show is added as a row of its own for a kind opened by path. -1 when none.
int ChooseInterfaceRow(int kind, std::vector<InterfaceEntry>& rows, const std::string& choice, int storedRow,
                       const std::string& storedName = std::string());
