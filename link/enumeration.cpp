#include "link/enumeration.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    closedir(dir);
    return names;
}

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

bool isPhantom8250(const std::string& name)
{
    char link[512];
    std::string driver = "/sys/class/tty/" + name + "/device/driver";
    ssize_t n = readlink(driver.c_str(), link, sizeof link - 1);
    if (n <= 0)
        return false;
    link[n] = '\0';
    if (!std::strstr(link, "serial8250"))
        return false;
    std::string node = "/dev/" + name;
    int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true;
    serial_struct info{};
    bool phantom = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN;
    close(fd);
    return phantom;
}

} // namespace

std::string VirtualLinesFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/vantrell/lines";
    return "/tmp/vantrell-" + std::to_string(getuid()) + "/lines";
}

void ListSystemSerialDevices(std::vector<InterfaceEntry>& list)
{
    std::vector<std::string> names;
    for (const std::string& name : folderEntries("/sys/class/tty")) {
        struct stat st{};
        std::string device = "/sys/class/tty/" + name + "/device";
        if (lstat(device.c_str(), &st) != 0)
            continue;
        if (isPhantom8250(name))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names)
        list.push_back({name, "/dev/" + name, 0});
}

void ListVirtualLines(std::vector<InterfaceEntry>& list)
{
    const std::string folder = VirtualLinesFolder();
    std::vector<std::string> names = folderEntries(folder);
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        struct stat st{};
        if (stat(path.c_str(), &st) != 0)
            continue;  // a line whose rig has gone away
        list.push_back({name, path, 0});
    }
}

int EnumComPorts(std::vector<InterfaceEntry>& list)
{
    size_t before = list.size();
    ListSystemSerialDevices(list);
    ListVirtualLines(list);
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
