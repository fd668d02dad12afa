#include "patch/stored_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The process's umask, read without changing it (the kernel shows it in
// /proc/self/status); the usual 022 when it cannot be read.
mode_t CurrentUmask()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    unsigned mask = 022;
    if (f) {
        char line[128];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(f);
    }
    return mode_t(mask);
}

} // namespace

bool SaveFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why)
{
    std::string temp = path + ".tmpXXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat existing {};
    fchmod(fd, ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) ? existing.st_mode & 07777
                                                                                  : 0666 & ~CurrentUmask());
    bool ok = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(name.data(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        why = std::strerror(err);
    }
    return ok;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, bool& whole,
                     std::string& why)
{
    bytes.clear();
    whole = false;
    // Opened without blocking, then judged by what it is, before a byte is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "не обычный файл";
        return false;
    }
    uint8_t chunk[4096];
    bool readError = false;
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        readError = n < 0;
        if (n == 0)
            whole = true;
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    // A file exactly as long as the limit is whole too.
    if (!whole && !readError && bytes.size() == limit) {
        uint8_t extra;
        whole = ::read(fd, &extra, 1) == 0;
    }
    ::close(fd);
    if (readError) {
        why = "ошибка чтения";
        return false;
    }
    return true;
}
