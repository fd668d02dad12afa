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
        if (badFootprint || badStart) {
            why = "запись " + std::to_string(i + 1) + ": " +
                  (badFootprint ? "размер " + std::to_string(r.footprint) + " вне 0..512"
                                : "начальный адрес " + std::to_string(unsigned(r.startIndex) + 1) + " вне 1..512");
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
    fchmod(fd, 0644);
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
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    // Nothing past the largest record list is ever read; stop there.
    const size_t limit = 4 + 12 * DeviceTable::kCapacity;
    size_t n = 0;
    while (bytes.size() < limit && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool readError = std::ferror(f);
    std::fclose(f);
    if (readError) {
        why = "ошибка чтения";
        return false;
    }
    return DecodePatch(bytes, records, why);
}
