#include "patch/patch_file.h"

#include "patch/stored_file.h"

#include <cstdio>
#include <cstring>

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
    return SaveFileAtomically(path, EncodePatch(records), why);
}

bool LoadPatchFile(const std::string& path, std::vector<PatchRecord>& records, std::string& why)
{
    records.clear();
    std::vector<uint8_t> bytes;
    bool whole = false;
    // Nothing past the largest record list is ever read.
    if (!ReadRegularFile(path, 4 + 12 * DeviceTable::kCapacity, bytes, whole, why))
        return false;
    return DecodePatch(bytes, records, why);
}
