#include "link/enumeration.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> entriesOf(DIR* dir)
{
    std::vector<std::string> names;
    if (!dir)
        return names;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    closedir(dir);
    return names;
}

std::vector<std::string> folderEntries(const std::string& folder) { return entriesOf(opendir(folder.c_str())); }

// ttyS2 before ttyS10: compare the letters, then the number.
bool naturalLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        return std::make_pair(s.substr(0, i), i < s.size() ? std::atol(s.c_str() + i) : -1L);
    };
    return split(a) < split(b);
}

// The serial core publishes each port's UART type; 0 (PORT_UNKNOWN) is a
// placeholder with no UART behind it, such as the legacy ttyS ports the 8250
// driver always registers. Reading sysfs keeps the port closed: opening it
// would pulse DTR and RTS at whatever is connected.
bool isPhantomPort(const std::string& ttyFolder)
{
    const int fd = open((ttyFolder + "/type").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;  // not a serial-core port (USB serial, ACM): it is there
    char text[16] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    return n > 0 && std::atoi(text) == PORT_UNKNOWN;
}

} // namespace

void ListSystemSerialDevices(std::vector<InterfaceEntry>& list) { ListSerialDevicesIn("/sys/class/tty", "/dev", list); }

void ListSerialDevicesIn(const std::string& ttyClass, const std::string& devices, std::vector<InterfaceEntry>& list)
{
    std::vector<std::string> names;
    for (const std::string& name : folderEntries(ttyClass)) {
        struct stat st{};
        const std::string folder = ttyClass + "/" + name;
        if (lstat((folder + "/device").c_str(), &st) != 0)
            continue;  // virtual consoles and pseudo-terminals
        if (isPhantomPort(folder))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names)
        list.push_back({name, devices + "/" + name, 0});
}

void ListVirtualLines(std::vector<InterfaceEntry>& list, std::string* note)
{
    LinesFolder folder;
    std::string why;
    if (!folder.open(false, why)) {
        if (note)
            *note = why;
        return;
    }
    // Read through the checked descriptor, not by its path again.
    std::vector<std::string> names = entriesOf(fdopendir(fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0)));
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names)
        if (folder.served(name))  // not one left by a rig that has gone
            list.push_back({name, folder.path() + "/" + name, 0});
}

int EnumComPorts(std::vector<InterfaceEntry>& list, std::string* note)
{
    size_t before = list.size();
    ListSystemSerialDevices(list);
    ListVirtualLines(list, note);
    return int(list.size() - before);
}

void FtSearch(D2xx& d2xx, std::vector<InterfaceEntry>& list)
{
    list.clear();
    DWORD count = 0;
    if (d2xx.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK || count == 0)
        return;
    for (DWORD i = 0; i < count; ++i) {
        FT_HANDLE handle = nullptr;
        if (d2xx.FT_Open(int(i), &handle) != FT_OK)
            continue;  // held by another program: no row
        DWORD type = 0, id = 0;
        char serial[17] = {};
        char description[64] = {};
        d2xx.FT_GetDeviceInfo(handle, &type, &id, serial, description, nullptr);
        serial[16] = '\0';
        list.push_back({"Device_" + std::to_string(i) + " S/N: " + serial, std::string(), int(i)});
        d2xx.FT_Close(handle);
    }
}
