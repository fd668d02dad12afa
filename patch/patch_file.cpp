#include "patch/patch_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned kUniverseSlots = 512;

void PutLE(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint64_t GetLE(const uint8_t* in, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | in[i];
    return v;
}

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

std::vector<uint8_t> EncodePatch(const std::vector<PatchRecord>& records)
{
    std::vector<uint8_t> out;
    PutLE(out, uint32_t(int32_t(records.size())), 4);
    for (const PatchRecord& r : records) {
        PutLE(out, r.uid, 8);
        PutLE(out, r.startIndex, 2);
        PutLE(out, r.footprint, 2);
    }
    return out;
}

bool DecodePatch(const std::vector<uint8_t>& bytes, std::vector<PatchRecord>& records, std::string& why)
{
    records.clear();
    if (bytes.size() < 4) {
        why = "файл короче заголовка";
        return false;
    }
    const int32_t n = int32_t(uint32_t(GetLE(bytes.data(), 4)));
    if (n < 0) {
        why = "отрицательное число устройств (" + std::to_string(n) + ")";
        return false;
    }
    if (n > DeviceTable::kCapacity) {
        why = "в файле " + std::to_string(n) + " устройств, больше " + std::to_string(DeviceTable::kCapacity);
        return false;
    }
    const size_t count = size_t(n);
    // Bytes after the N records (another tool's or a later version's) are not ours to read.
    const size_t expected = 4 + 12 * count;
    if (bytes.size() < expected) {
        why = "длина файла " + std::to_string(bytes.size()) + " байт вместо " + std::to_string(expected);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* rec = bytes.data() + 4 + 12 * i;
        const PatchRecord r{GetLE(rec, 8), uint16_t(GetLE(rec + 8, 2)), uint16_t(GetLE(rec + 10, 2))};
        // A device without a footprint has no start address (its DEVICE_INFO gives
        // 0xFFFF): whatever its record holds is kept as it was read.
        const bool badFootprint = r.footprint > kUniverseSlots;
        const bool badStart = !badFootprint && r.footprint && r.startIndex >= kUniverseSlots;
        const bool overEnd = !badFootprint && !badStart && r.footprint && r.startIndex + r.footprint > kUniverseSlots;
        std::string wrong;
        if (!IsDeviceUid(r.uid))
            wrong = "UID " + (r.uid > kBroadcastUid ? std::to_string(r.uid) : UidColonText(r.uid)) +
                    " не может носить одно устройство";
        else if (badFootprint)
            wrong = "размер " + std::to_string(r.footprint) + " вне 0..512";
        else if (badStart)
            wrong = "начальный адрес " + std::to_string(unsigned(r.startIndex) + 1) + " вне 1..512";
        else if (overEnd)
            wrong = "каналы " + std::to_string(unsigned(r.startIndex) + 1) + "–" +
                    std::to_string(unsigned(r.startIndex) + r.footprint) + " выходят за 512";
        for (size_t k = 0; wrong.empty() && k < records.size(); ++k)
            if (records[k].uid == r.uid)
                wrong = "UID " + UidColonText(r.uid) + " уже есть в записи " + std::to_string(k + 1);
        if (!wrong.empty()) {
            why = "запись " + std::to_string(i + 1) + ": " + wrong;
            records.clear();
            return false;
        }
        records.push_back(r);
    }
    return true;
}

bool SavePatchFile(const std::string& path, const std::vector<PatchRecord>& records, std::string& why)
{
    const std::vector<uint8_t> bytes = EncodePatch(records);
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

bool LoadPatchFile(const std::string& path, std::vector<PatchRecord>& records, std::string& why)
{
    records.clear();
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
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    // Nothing past the largest record list is ever read; stop there.
    const size_t limit = 4 + 12 * DeviceTable::kCapacity;
    bool readError = false;
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        readError = n < 0;
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    if (readError) {
        why = "ошибка чтения";
        return false;
    }
    return DecodePatch(bytes, records, why);
}
