#include "link/lines_folder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string LockName(const std::string& name) { return "." + name + ".lock"; }

std::string OctalMode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// Opens `part` inside `dir` as a directory that is this user's alone, making it
// first when `create`. The descriptor only names it (O_PATH), so that a folder
// another user keeps closed is still seen, and refused, for what it is. -1 with
// `why` set (empty: it is not there).
int OpenOwnDirectory(int dir, const char* part, const std::string& path, bool create, std::string& why)
{
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(dir, part, kFlags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(dir, part, 0700) != 0 && errno != EEXIST) {
            why = "cannot create " + path + ": " + std::strerror(errno);
            return -1;
        }
        fd = ::openat(dir, part, kFlags);
    }
    if (fd < 0) {
        if (errno == ENOTDIR || errno == ELOOP)
            why = path + " is not a directory but a link or a file; remove it";
        else if (errno != ENOENT)
            why = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = path + " is not a directory; remove it";
    } else if (st.st_uid != ::getuid()) {
        why = path + " belongs to another user (uid " + std::to_string(st.st_uid) +
              "), who could plant lines in it; remove it, or set XDG_RUNTIME_DIR to a folder of yours";
    } else if (st.st_mode & 077) {
        why = path + " is open to other users (mode " + OctalMode(st.st_mode) + "); remove it, or make it mode 0700";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

} // namespace

std::string VirtualLinesFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/vantrell/lines";
    return "/tmp/vantrell-" + std::to_string(::getuid()) + "/lines";
}

bool IsPlainLineName(const std::string& name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    for (const char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool IsPublishedLinePath(const std::string& path, std::string& name)
{
    const std::string folder = VirtualLinesFolder() + "/";
    if (path.compare(0, folder.size(), folder) != 0)
        return false;
    name = path.substr(folder.size());
    return IsPlainLineName(name);
}

LinesFolder::~LinesFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool LinesFolder::open(bool create, std::string& why)
{
    why.clear();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_ = VirtualLinesFolder();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool inRuntime = runtime && *runtime;
    const std::string base = inRuntime ? std::string(runtime) : std::string("/tmp");
    const std::string own = inRuntime ? "vantrell" : "vantrell-" + std::to_string(::getuid());
    const int baseFd = ::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) {
        if (errno != ENOENT || create)
            why = "cannot open " + base + ": " + std::strerror(errno);
        return false;
    }
    const int ownFd = OpenOwnDirectory(baseFd, own.c_str(), base + "/" + own, create, why);
    ::close(baseFd);
    if (ownFd < 0)
        return false;
    const int linesFd = OpenOwnDirectory(ownFd, "lines", path_, create, why);
    ::close(ownFd);
    if (linesFd < 0)
        return false;
    // The checked folder itself, now opened to be read.
    fd_ = ::openat(linesFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        why = "cannot open " + path_ + ": " + std::strerror(errno);
    ::close(linesFd);
    return fd_ >= 0;
}

bool LinesFolder::served(const std::string& name) const
{
    if (fd_ < 0 || !IsPlainLineName(name))
        return false;
    const int lock = ::openat(fd_, LockName(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lock < 0)
        return false;
    // Asked, not taken: a lock that would conflict is the rig's, held while it lives.
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(lock, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(lock);
    return held;
}

int LinesFolder::openLine(const std::string& name, std::string& why) const
{
    const std::string path = path_ + "/" + name;
    if (!served(name)) {
        why = path + ": no rig serves this line any more";
        errno = ENOENT;
        return -1;
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        why = path + ": " + std::strerror(error);
        errno = error;
        return -1;
    }
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        why = path + " does not lead to a terminal device; refused";
        error = ENOTTY;
    } else if (st.st_uid != ::getuid()) {
        why = path + " leads to a device that is not yours (owner uid " + std::to_string(st.st_uid) + "); refused";
        error = EPERM;
    } else if (!::isatty(fd)) {
        why = path + " does not lead to a terminal device; refused";
        error = ENOTTY;
    } else {
        return fd;
    }
    ::close(fd);
    errno = error;
    return -1;
}

bool LinePublication::publish(const std::string& name, const std::string& target, std::string& error)
{
    withdraw();
    if (!IsPlainLineName(name)) {
        error = "the line name must be a plain name of at most 64 bytes: no '/', no leading dot, no control characters";
        return false;
    }
    std::string why;
    if (!folder_.open(true, why)) {
        error = why.empty() ? "cannot create " + folder_.path() : why;
        return false;
    }
    const std::string lockName = LockName(name);
    // The lock file may be removed by the rig before, between our open and our
    // lock: then the lock guards nothing, and it is taken again on the new file.
    for (int attempt = 0; attempt < 3 && lockFd_ < 0; ++attempt) {
        const int fd =
            ::openat(folder_.fd(), lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "cannot create " + folder_.path() + "/" + lockName + ": " + std::strerror(errno);
            return false;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            ::close(fd);
            error = "another rig serves a line named \"" + name + "\"; give this one another --name";
            return false;
        }
        struct stat held {}, now {};
        if (::fstat(fd, &held) == 0 && ::fstatat(folder_.fd(), lockName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_ino == now.st_ino && held.st_dev == now.st_dev)
            lockFd_ = fd;
        else
            ::close(fd);
    }
    if (lockFd_ < 0) {
        error = "cannot lock " + folder_.path() + "/" + lockName;
        return false;
    }
    // Made under a name of its own and renamed over the entry: a reader sees the
    // old entry or the new one, never none and never half of one.
    const std::string temporary = "." + name + "." + std::to_string(::getpid()) + ".new";
    ::unlinkat(folder_.fd(), temporary.c_str(), 0);
    if (::symlinkat(target.c_str(), folder_.fd(), temporary.c_str()) != 0 ||
        ::renameat(folder_.fd(), temporary.c_str(), folder_.fd(), name.c_str()) != 0) {
        error = "cannot publish " + folder_.path() + "/" + name + ": " + std::strerror(errno);
        ::unlinkat(folder_.fd(), temporary.c_str(), 0);
        ::unlinkat(folder_.fd(), lockName.c_str(), 0);
        ::close(lockFd_);
        lockFd_ = -1;
        return false;
    }
    name_ = name;
    target_ = target;
    path_ = folder_.path() + "/" + name;
    return true;
}

void LinePublication::withdraw()
{
    if (lockFd_ < 0)
        return;
    // Only our own entry goes: one that leads elsewhere was put there since.
    char link[PATH_MAX];
    const ssize_t n = ::readlinkat(folder_.fd(), name_.c_str(), link, sizeof link - 1);
    if (n >= 0 && target_ == std::string(link, size_t(n)))
        ::unlinkat(folder_.fd(), name_.c_str(), 0);
    ::unlinkat(folder_.fd(), LockName(name_).c_str(), 0);
    ::close(lockFd_);
    lockFd_ = -1;
    path_.clear();
}
