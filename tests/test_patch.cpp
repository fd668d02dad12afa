#include "patch/auto_address.h"
#include "patch/patch_file.h"
#include "patch/patch_map.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string TempPath(const char* name)
{
    return testing::TempDir() + "/vantrell-" + std::to_string(getpid()) + "-" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(PatchFile, ExampleComesOutByteForByte)
{
    const std::vector<uint8_t> expected = {1, 0, 0, 0, 0x56, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0, 0x18, 0};
    EXPECT_EQ(EncodePatch({{MakeUid(0x1234, 0x56), 0, 24}}), expected);
    EXPECT_EQ(EncodePatch({}), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(PatchFile, SaveThenLoadRoundTrips)
{
    const std::string path = TempPath("round.pat");
    std::vector<PatchRecord> records = {{MakeUid(0x1234, 0x56), 0, 24}, {MakeUid(0x12, 1), 499, 13}, {7, 511, 0}};
    std::string why;
    ASSERT_TRUE(SavePatchFile(path, records, why)) << why;
    EXPECT_EQ(ReadFile(path).size(), 4u + 36u);
    std::vector<PatchRecord> back;
    ASSERT_TRUE(LoadPatchFile(path, back, why)) << why;
    ASSERT_EQ(back.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].uid, records[i].uid);
        EXPECT_EQ(back[i].startIndex, records[i].startIndex);
        EXPECT_EQ(back[i].footprint, records[i].footprint);
    }
    // Saving over an existing file replaces it.
    ASSERT_TRUE(SavePatchFile(path, {}, why));
    EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_TRUE(LoadPatchFile(path, back, why));
    EXPECT_TRUE(back.empty());
    std::remove(path.c_str());
}

TEST(PatchFile, RefusesBadFilesWithAReason)
{
    std::vector<uint8_t> good = EncodePatch({{1, 2, 3}, {4, 5, 6}});
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 1));  // truncated
    bad.push_back({34, 0, 0, 0});            // oversized N
    bad.push_back({0xFF, 0xFF, 0xFF, 0xFF}); // negative N
    bad.push_back({1, 0});                   // no count
    std::vector<uint8_t> big = EncodePatch(std::vector<PatchRecord>(34));
    bad.push_back(big);
    for (const auto& bytes : bad) {
        std::vector<PatchRecord> records{{9, 9, 9}};
        std::string why;
        EXPECT_FALSE(DecodePatch(bytes, records, why));
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(records.empty());
    }
    std::vector<PatchRecord> records;
    std::string why;
    EXPECT_FALSE(LoadPatchFile(TempPath("missing.pat"), records, why));
    EXPECT_FALSE(why.empty());
}

TEST(PatchFile, RecordsOutsideTheUniverseAreRefusedByNumber)
{
    std::vector<PatchRecord> records;
    std::string why;
    // Start address 32768, footprint 65535: the map would show a clipped number.
    EXPECT_FALSE(DecodePatch(EncodePatch({{1, 0, 1}, {2, 32767, 65535}}), records, why));
    EXPECT_EQ(why, "запись 2: размер 65535 вне 0..512");
    EXPECT_FALSE(DecodePatch(EncodePatch({{2, 32767, 4}}), records, why));
    EXPECT_EQ(why, "запись 1: начальный адрес 32768 вне 1..512");
    EXPECT_FALSE(DecodePatch(EncodePatch({{2, 512, 1}}), records, why)) << "address 513";
    // The edges, and a device without a footprint as a read saves it (no address).
    EXPECT_TRUE(DecodePatch(EncodePatch({{1, 0, 512}, {2, 511, 1}, {3, 0xFFFE, 0}}), records, why)) << why;
    EXPECT_EQ(records.size(), 3u);
}

TEST(PatchFile, BytesAfterTheRecordsAreIgnored)
{
    const std::string path = TempPath("longer.pat");
    std::vector<uint8_t> bytes = EncodePatch({{MakeUid(0x1234, 0x56), 7, 24}, {MakeUid(0x12, 1), 499, 13}});
    bytes.insert(bytes.end(), 5000, 0xEE);  // a later version's trailer, longer than any record list
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    std::vector<PatchRecord> back;
    std::string why;
    ASSERT_TRUE(LoadPatchFile(path, back, why)) << why;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].startIndex, 7);
    EXPECT_EQ(back[1].uid, MakeUid(0x12, 1));
    EXPECT_EQ(back[1].footprint, 13);
    std::remove(path.c_str());
}

TEST(PatchFile, FailedSaveKeepsTheExistingFile)
{
    const std::string path = TempPath("keep.pat");
    std::string why;
    ASSERT_TRUE(SavePatchFile(path, {{1, 2, 3}}, why));
    const auto before = ReadFile(path);
    // A folder that does not exist: nothing can be written, the old file stays.
    EXPECT_FALSE(SavePatchFile(TempPath("no-such-folder") + "/x.pat", {}, why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ReadFile(path), before);
    std::remove(path.c_str());
}

TEST(PatchMap, CountsColoursAndIndexes)
{
    using namespace patch_map;
    DeviceTable t;
    t.entries[0] = {1, 0, 24};
    t.entries[1] = {2, 10, 24};
    t.entries[2] = {3, 500, 24};
    t.entries[3] = {4, 100, 0};
    auto counts = SlotCounts(t, 4, -1, 0);
    EXPECT_EQ(counts[0], 1);
    EXPECT_EQ(counts[10], 2);
    EXPECT_EQ(counts[511], 1);
    EXPECT_EQ(counts[100], 0);
    EXPECT_EQ(ColourForCount(counts[10]), kTwo);
    counts = SlotCounts(t, 4, 1, 5);
    EXPECT_EQ(counts[5], 3);
    EXPECT_EQ(ColourForCount(counts[5]), kOverlap);
    EXPECT_EQ(counts[28], 2);
    EXPECT_EQ(ColourForCount(0), kFree);
    EXPECT_EQ(ColourForCount(1), kOne);

    EXPECT_EQ(IndexAt(0, 0), 0);
    EXPECT_EQ(IndexAt(416, 0), 32) << "the last pixel column is column 0 of the next row";
    EXPECT_EQ(IndexAt(12, 13), 32);
    EXPECT_EQ(IndexAt(-5, 0), 0);
    EXPECT_EQ(IndexAt(0, -13), uint16_t(-32));
    EXPECT_TRUE(Fits(488, 24));
    EXPECT_FALSE(Fits(489, 24));
    EXPECT_TRUE(Fits(0, 512));
    EXPECT_FALSE(Fits(1, 512));
    EXPECT_FALSE(Fits(uint16_t(-32), 0));
}

TEST(PatchFile, RecordsThatNameNoOneDeviceOrTwiceOneAreRefusedByNumber)
{
    constexpr Uid kOne = MakeUid(0x7FF0, 1);
    const struct {
        PatchRecord second;
        const char* why;
    } cases[] = {
        {{kBroadcastUid, 0, 1}, "запись 2: UID FFFF:FFFFFFFF не может носить одно устройство"},
        {{MakeUid(0x7FF0, 0xFFFFFFFF), 0, 1}, "запись 2: UID 7FF0:FFFFFFFF не может носить одно устройство"},
        {{0, 0, 1}, "запись 2: UID 0000:00000000 не может носить одно устройство"},
        {{1ull << 48, 0, 1}, "запись 2: UID 281474976710656 не может носить одно устройство"},
        {{kOne, 100, 1}, "запись 2: UID 7FF0:00000001 уже есть в записи 1"},
        {{MakeUid(0x7FF0, 2), 511, 512}, "запись 2: каналы 512–1023 выходят за 512"},
    };
    for (const auto& c : cases) {
        std::vector<PatchRecord> records;
        std::string why;
        EXPECT_FALSE(DecodePatch(EncodePatch({{kOne, 0, 1}, c.second}), records, why)) << c.why;
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(records.empty());
    }
}

TEST(PatchFile, OnlyARegularFileIsLoadedAndSavingKeepsItsMode)
{
    // A FIFO nobody writes would hold a blocking read for ever.
    const std::string fifo = TempPath("fifo.pat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<PatchRecord> records;
    std::string why;
    EXPECT_FALSE(LoadPatchFile(fifo, records, why));
    EXPECT_EQ(why, "не обычный файл");
    EXPECT_FALSE(LoadPatchFile("/dev/null", records, why));
    std::remove(fifo.c_str());

    const std::string path = TempPath("mode.pat");
    const mode_t before = umask(027);
    ASSERT_TRUE(SavePatchFile(path, {}, why)) << why;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a new file follows the umask";
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(SavePatchFile(path, {{MakeUid(0x7FF0, 1), 0, 1}}, why)) << why;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "an existing one keeps its mode";
    umask(before);
    std::remove(path.c_str());
}

// Auto-addressing in each order, with a gap, and a universe too small.
TEST(AutoAddress, OrdersGapsAndAUniverseTooSmall)
{
    const Uid a = 0x7FF000000001ull, b = 0x7FF000000002ull, c = 0x7FF000000003ull, none = 0x7FF000000004ull;
    const std::vector<AddressedDevice> devices = {
        {c, 9, 4, "Alpha"}, {a, 300, 10, "Charlie"}, {b, 0, 6, "Bravo"}, {none, 0, 0, "no slots"}};
    struct Case {
        AddressOrder order;
        int from, gap;
        std::vector<PatchRecord> expected;  // start indices: address minus 1
    };
    const Case cases[] = {
        {AddressOrder::Uid, 1, 0, {{a, 0, 10}, {b, 10, 6}, {c, 16, 4}}},
        {AddressOrder::Address, 1, 0, {{b, 0, 6}, {c, 6, 4}, {a, 10, 10}}},
        {AddressOrder::Label, 101, 2, {{c, 100, 4}, {b, 106, 6}, {a, 114, 10}}},
        {AddressOrder::Uid, 493, 0, {{a, 492, 10}, {b, 502, 6}, {c, 508, 4}}},  // ends on 512 exactly
    };
    for (const Case& k : cases) {
        std::vector<PatchRecord> out;
        std::string why;
        ASSERT_TRUE(AutoAddress(devices, k.from, k.gap, k.order, out, why)) << why;
        ASSERT_EQ(out.size(), k.expected.size()) << "the device without slots is left alone";
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_TRUE(out[i].uid == k.expected[i].uid && out[i].startIndex == k.expected[i].startIndex &&
                        out[i].footprint == k.expected[i].footprint)
                << "order " << int(k.order) << ", device " << i;
    }
    std::vector<PatchRecord> out;
    std::string why;
    EXPECT_FALSE(AutoAddress(devices, 494, 0, AddressOrder::Uid, out, why));
    EXPECT_NE(why.find("7FF0:00000003"), std::string::npos) << "names the device that does not fit: " << why;
    EXPECT_TRUE(out.empty());
}
