#include "fs/StructureChecks.h"

#include "core/Array.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

Sector sectorOf(const std::string& bytes) {
    Sector s{};
    std::copy(bytes.begin(), bytes.begin() + 512, s.begin());
    return s;
}

// A FAT16 first sector: media F8, entry 1 all ones, then the entries given.
Sector fat16Start(const std::vector<u16>& entries) {
    Sector s{};
    Array a(s.data(), 512);
    a.setLE16(0, 0xFFF8);
    a.setLE16(2, 0xFFFF);
    for (std::size_t i = 0; i < entries.size(); ++i)
        a.setLE16(static_cast<u32>(4 + 2 * i), entries[i]);
    return s;
}

} // namespace

TEST(PartitionTableTest, TablesOfKnownTypesWithSaneEntries) {
    struct Case {
        std::vector<PartitionSpec> partitions;
        bool valid;
    };
    const Case cases[] = {
        {{{2048, 100000, 0x0C}}, true},
        {{{63, 1000, 0x06}, {2000, 5000, 0x05}}, true},
        {{{2048, 100000, 0x87}}, false},            // only types outside the known list
        {{{2048, 1000, 0x07}, {0, 0, 0x83}}, true}, // an unknown one beside is passed over
        {{}, false},
        {{{0, 100000, 0x07}}, false},
        {{{2048, 0, 0x07}}, false},
        // FAT16 by LBA, and the hidden FAT types: checked as the others are.
        {{{2048, 100000, 0x0E}}, true},
        {{{2048, 100000, 0x11}, {200000, 1000, 0x14}, {300000, 1000, 0x16}}, true},
        {{{2048, 100000, 0x1B}, {200000, 1000, 0x1C}, {300000, 1000, 0x1E}}, true},
        {{{0, 100000, 0x0E}}, false},
        {{{2048, 0, 0x1C}}, false},
        {{{2048, 100000, 0x12}}, false}, // no FAT type: still passed over
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidMbr(sectorOf(makeMbr(c.partitions)).data()), c.valid)
            << hexDump(makeMbr(c.partitions).data() + 446, 32);
    Sector s = sectorOf(makeMbr({{2048, 100000, 0x0C}}));
    s[PARTITION_TABLE_OFFSET + PE_BOOT_INDICATOR] = 0x01;
    EXPECT_FALSE(isValidMbr(s.data()));
    s = sectorOf(makeMbr({{2048, 100000, 0x0C}}));
    s[SECTOR_SIGNATURE_OFFSET] = 0;
    EXPECT_FALSE(isValidMbr(s.data()));
}

TEST(FatEntryTest, EntriesOfEachWidthAndTheHalfByteShift) {
    std::array<u8, 16> b{};
    b.fill(0xAA);
    Array a(b.data(), 16);
    setFatEntry(FAT12, 2, a, 0x123, 0);
    setFatEntry(FAT12, 3, a, 0xABC, 0);
    EXPECT_EQ(getFatEntry(FAT12, 2, a, 0), 0x123u);
    EXPECT_EQ(getFatEntry(FAT12, 3, a, 0), 0xABCu);
    EXPECT_EQ(getFatEntry(FAT12, 4, a, 0), 0xAAAu); // the neighbour keeps its nibbles
    // A buffer that starts with the odd half of a pair.
    EXPECT_EQ(getFatEntry(FAT12, 0, ConstArray(b.data() + 4, 12), 1), 0xABCu);
    EXPECT_THROW(getFatEntry(FAT12, 10, a, 0), std::out_of_range);
    setFatEntry(FAT16, 1, a, 0xFFF7, 0);
    EXPECT_EQ(getFatEntry(FAT16, 1, a, 0), 0xFFF7u);
    a.setLE32(8, 0xF0000000);
    setFatEntry(FAT32, 2, a, 0x00000123, 0);
    EXPECT_EQ(a.getLE32(8), 0xF0000123u); // the top four bits stay
    a.setLE32(8, 0xFFFFFFFF);
    EXPECT_EQ(getFatEntry(FAT32, 2, a, 0), 0x0FFFFFFFu);
    const std::array<u8, 16> before = b;
    setFatEntry(FAT16_32, 0, a, 5, 0);
    EXPECT_EQ(b, before);
    EXPECT_EQ(getFatEntry(FAT16_32, 0, a, 0), 0u);
}

TEST(FatEntryTest, ClassesAndTexts) {
    struct Case {
        FatType width;
        u32 value;
        ClusterType scanned;
        ClusterType chained;
    };
    const Case cases[] = {
        {FAT16, 0, FREE_CLUSTER, FREE_CLUSTER},
        {FAT16, 1, NOT_CLUSTER, NOT_CLUSTER},
        // A link to cluster 2 looks like random data in a scanned sector; in a
        // chain it is the first data cluster like any other.
        {FAT12, 2, NOT_CLUSTER, NEXT_CLUSTER},
        {FAT16, 2, NOT_CLUSTER, NEXT_CLUSTER},
        {FAT32, 2, NOT_CLUSTER, NEXT_CLUSTER},
        {FAT16, 0xFFEF, NEXT_CLUSTER, NEXT_CLUSTER},
        {FAT16, 0xFFF0, RESERVED_CLUSTER, RESERVED_CLUSTER},
        {FAT12, 0xFF7, BAD_CLUSTER, BAD_CLUSTER},
        {FAT12, 0xFF8, EOF_CLUSTER, EOF_CLUSTER},
        {FAT32, 0x0FFFFFEF, NEXT_CLUSTER, NEXT_CLUSTER},
        {FAT32, 0x0FFFFFF7, BAD_CLUSTER, BAD_CLUSTER},
        {FAT32, 0x0FFFFFFF, EOF_CLUSTER, EOF_CLUSTER},
        // FAT16 and FAT32 alike: no width for the entries.
        {fatEntryWidthOf(FAT16_32), 5, NOT_CLUSTER, NOT_CLUSTER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classifyFatEntry(c.width, c.value), c.scanned) << c.width << ' ' << c.value;
        EXPECT_EQ(classifyChainEntry(c.width, c.value), c.chained) << c.width << ' ' << c.value;
    }
}

TEST(FatTypeTest, WidthsBySectorsPerFatAndByClusterCount) {
    const std::pair<u32, FatType> bySize[] = {
        {0, FAT_NONE}, {1, FAT12},      {12, FAT12},  {13, FAT_NONE},    {16, FAT16},
        {256, FAT16},  {300, FAT_NONE}, {512, FAT32}, {0x200000, FAT32}, {0x200001, FAT_NONE}};
    for (const auto& r : bySize)
        EXPECT_EQ(fatTypeBySectorsPerFat(r.first), r.second) << r.first;
    const std::pair<u32, FatType> byCount[] = {{4084, FAT12},       {4085, FAT16},
                                               {65524, FAT16},      {65525, FAT32},
                                               {0x0FFFFFF5, FAT32}, {0x0FFFFFF6, FAT_NONE}};
    for (const auto& r : byCount)
        EXPECT_EQ(fatTypeByClusterCount(r.first), r.second) << r.first;
    EXPECT_EQ(fatEntryCount(FAT12, 9), 3072u);
    EXPECT_EQ(fatEntryCount(FAT32, 0x200000), 1ull << 28);
    for (u32 v : {0u, 3u, 256u})
        EXPECT_FALSE(isValidSectorsPerCluster(v)) << v;
    EXPECT_TRUE(isValidSectorsPerCluster(128));
}

TEST(FatSectorTest, StartsPlausibilityAndTheGuess) {
    struct Case {
        std::vector<u8> start;
        bool guessed;
        FatType type;
    };
    // 0x0FFFFFF8 then 26 bits set: FAT32 only; 0x3FFFFFF8 then 0x03FFFFFF: both;
    // F8 FF FF then free: FAT12 only; another media byte: none.
    const Case cases[] = {
        {{0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F}, true, FAT32},
        {{0xF8, 0xFF, 0xFF, 0x3F, 0xFF, 0xFF, 0xFF, 0x03}, true, FAT16_32},
        {{0xF8, 0xFF, 0xFF}, true, FAT12},
        {{0xF0, 0xFF, 0xFF}, true, FAT12},
        // mkfs.fat's FAT12: cluster 2 ends at once, 3 to 6 are one chain, or
        // nothing follows; FAT16 with only cluster 2 in use.
        {{0xF0, 0xFF, 0xFF, 0xFF, 0x4F, 0x00, 0x05, 0x60, 0x00, 0xFF, 0x0F}, true, FAT12},
        {{0xF0, 0xFF, 0xFF, 0xFF, 0x0F}, true, FAT12},
        {{0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true, FAT16},
        {{0xF9, 0xFF, 0xFF}, false, FAT_NONE},
    };
    for (const Case& c : cases) {
        Sector s{};
        std::copy(c.start.begin(), c.start.end(), s.begin());
        FatType t = FAT_NONE;
        EXPECT_EQ(guessFatTypeOfSector(s.data(), t), c.guessed) << hexDump(s.data(), 8);
        EXPECT_EQ(t, c.type) << hexDump(s.data(), 8);
    }
    Sector s = fat16Start({3, 4, 0xFFFF, 0, 0});
    s[3] = 0x3F; // entry 1's two flag bits are ignored
    FatType t = FAT_NONE;
    EXPECT_TRUE(guessFatTypeOfSector(s.data(), t) && t == FAT16);
    // Two links to one cluster, a link back to cluster 2, the value 1.
    for (const auto& entries : {std::vector<u16>{9, 0, 0, 9}, {0, 2}, {1}})
        EXPECT_FALSE(isPlausibleFatSector(FAT16, fat16Start(entries).data()));
    EXPECT_FALSE(isPlausibleFatSector(FAT16_32, s.data()));
}
