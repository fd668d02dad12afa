#include "link/port_holder.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <cstdio>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool SameNode(const std::string& link, const struct stat& wanted)
{
    struct stat s {};
    return ::stat(link.c_str(), &s) == 0 && s.st_rdev == wanted.st_rdev && s.st_ino == wanted.st_ino &&
           s.st_dev == wanted.st_dev;
}

bool Holds(const std::string& pid, const struct stat& wanted)
{
    const std::string fds = "/proc/" + pid + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (!dir)
        return false;
    bool holds = false;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.' && SameNode(fds + "/" + e->d_name, wanted)) {
            holds = true;
            break;
        }
    ::closedir(dir);
    return holds;
}

// The processes with a lock on the node (as the serial ports are held):
// "1: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF", where the file is named by
// its file system's device (major and minor in hex) and its inode. The inode
// alone would name the holder of a file on another file system.
bool SameFile(const std::string& where, const struct stat& wanted)
{
    unsigned majorNumber = 0, minorNumber = 0;
    unsigned long long inode = 0;
    char end = 0;
    return std::sscanf(where.c_str(), "%x:%x:%llu%c", &majorNumber, &minorNumber, &inode, &end) == 3 &&
           majorNumber == major(wanted.st_dev) && minorNumber == minor(wanted.st_dev) && inode == wanted.st_ino;
}

std::vector<std::string> Lockers(const struct stat& wanted)
{
    std::vector<std::string> pids;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream in(line);
        std::string number, kind, mode, access, pid, where;
        if (!(in >> number >> kind >> mode >> access >> pid >> where))
            continue;
        if (kind == "->")  // a waiter, listed after the holder
            continue;
        if (SameFile(where, wanted))
            pids.push_back(pid);
    }
    return pids;
}

std::string Named(const std::string& pid)
{
    std::string name;
    std::ifstream comm("/proc/" + pid + "/comm");
    std::getline(comm, name);
    return (name.empty() ? std::string("?") : name) + " (PID " + pid + ")";
}

} // namespace

std::string ProgramsHolding(const std::string& node)
{
    struct stat wanted {};
    if (node.empty() || ::stat(node.c_str(), &wanted) != 0)
        return {};
    const std::string self = std::to_string(::getpid());
    std::vector<std::string> pids = Lockers(wanted);
    // Without a lock (a USB device claimed through libusb): whoever has it open.
    if (pids.empty()) {
        DIR* proc = ::opendir("/proc");
        if (!proc)
            return {};
        while (const dirent* e = ::readdir(proc)) {
            const std::string pid = e->d_name;
            if (pid.find_first_not_of("0123456789") == std::string::npos && Holds(pid, wanted))
                pids.push_back(pid);
        }
        ::closedir(proc);
    }
    std::string out;
    for (const std::string& pid : pids)
        if (pid != self)
            out += (out.empty() ? "" : ", ") + Named(pid);
    return out;
}
