#include "link/interface_kinds.h"

#include <cstdlib>

static_assert(kInterfaceKinds[KindStandardVcp].kind == KindStandardVcp &&
                  kInterfaceKinds[KindTalvern].kind == KindTalvern &&
                  kInterfaceKinds[KindEnttecUsbPro].kind == KindEnttecUsbPro &&
                  kInterfaceKinds[KindArtNet].kind == KindArtNet,
              "a kind's value is its place in the table");

const InterfaceKindInfo* FindInterfaceKind(int kind)
{
    for (const InterfaceKindInfo& k : kInterfaceKinds)
        if (k.kind == kind)
            return &k;
    return nullptr;
}

int ParseInterfaceKind(const std::string& text)
{
    if (text == "enttec")
        return KindEnttecUsbPro;
    for (const InterfaceKindInfo& k : kInterfaceKinds)
        if (text == k.token || text == std::to_string(k.kind))
            return k.kind;
    return -1;
}

const char* InterfaceKindName(int kind)
{
    const InterfaceKindInfo* k = FindInterfaceKind(kind);
    return k ? k->displayName : "?";
}

int ChooseInterfaceRow(int kind, std::vector<InterfaceEntry>& rows, const std::string& choice, int storedRow,
                       const std::string& storedName)
{
    if (choice.empty() && !storedName.empty()) {
        for (size_t i = 0; i < rows.size(); ++i)
            if (InterfaceIdentity(kind, rows[i]) == storedName)
                return int(i);
        return -1;
    }
    if (choice.empty())
        return storedRow >= 0 && storedRow < int(rows.size()) ? storedRow : -1;
    char* end = nullptr;
    const long n = std::strtol(choice.c_str(), &end, 10);
    if (*end == '\0' && n >= 0 && n < long(rows.size()))
        return int(n);
    const std::string serialTail = " S/N: " + choice;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& text = rows[i].text;
        if (text == choice || rows[i].path == choice ||
            (text.size() > serialTail.size() &&
             text.compare(text.size() - serialTail.size(), serialTail.size(), serialTail) == 0))
            return int(i);
    }
    const InterfaceKindInfo* k = FindInterfaceKind(kind);
    if (k && k->byDevicePath && choice[0] == '/') {
        rows.push_back({choice, choice, 0});
        return int(rows.size() - 1);
    }
    return -1;
}

const std::string& InterfaceIdentity(int kind, const InterfaceEntry& row)
{
    return KindOnNetwork(kind) ? row.path : row.text;
}

bool KindOnNetwork(int kind)
{
    const InterfaceKindInfo* k = FindInterfaceKind(kind);
    return k && k->onNetwork;
}
