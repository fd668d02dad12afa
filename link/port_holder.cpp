#include "link/port_holder.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
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

} // namespace

std::string ProgramsHolding(const std::string& node)
{
    struct stat wanted {};
    if (node.empty() || ::stat(node.c_str(), &wanted) != 0)
        return {};
    const std::string self = std::to_string(::getpid());
    std::string out;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return {};
    while (const dirent* e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self || !Holds(pid, wanted))
            continue;
        std::string name;
        std::ifstream comm("/proc/" + pid + "/comm");
        std::getline(comm, name);
        out += (out.empty() ? "" : ", ") + (name.empty() ? std::string("?") : name) + " (PID " + pid + ")";
    }
    ::closedir(proc);
    return out;
}
