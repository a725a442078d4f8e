#include "fs/StructureChecks.h"

#include "core/Array.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;

Sector sectorOf(const std::string& bytes) {
    Sector s{};
    std::copy(bytes.begin(), bytes.begin() + 512, s.begin());
    return s;
}

Sector mbrWith(const std::vector<PartitionSpec>& partitions) {
    return sectorOf(makeMbr(partitions));
}

u8* entryOf(Sector& s, int i) {
    return s.data() + 446 + 16 * i;
}

// A FAT16 first sector: media F8, entry 1 all ones, then the given entries.
Sector fat16Start(const std::vector<u16>& entries) {
    Sector s{};
    Array a(s.data(), 512);
    a.setLE16(0, 0xFFF8);
    a.setLE16(2, 0xFFFF);
    for (std::size_t i = 0; i < entries.size(); ++i)
        a.setLE16(static_cast<u32>(4 + 2 * i), entries[i]);
    return s;
}

std::string fsTypeName(FsKind kind, FatType type, u8 partitionType) {
    std::ostringstream os;
    writeFsTypeName(os, kind, type, partitionType);
    return os.str();
}

} // namespace

// ---- Partition tables ----

TEST(PartitionTableTest, TablesOfKnownTypes) {
    EXPECT_TRUE(isValidMbr(mbrWith({{2048, 100000, 0x0C}}).data()));
    EXPECT_TRUE(isValidMbr(mbrWith({{63, 1000, 0x06}, {2000, 5000, 0x05}}).data()));

    // Only types outside the known list: not a partition table.
    EXPECT_FALSE(isValidMbr(mbrWith({{2048, 100000, 0x87}}).data()));
    EXPECT_FALSE(isValidMbr(mbrWith({{2048, 100000, 0x83}}).data()));
    // An unknown type beside a known one is passed over, even when broken.
    EXPECT_TRUE(isValidMbr(mbrWith({{2048, 1000, 0x07}, {0, 0, 0x83}}).data()));
    // All four slots empty, or no signature.
    EXPECT_FALSE(isValidMbr(mbrWith({}).data()));
    Sector s = mbrWith({{2048, 100000, 0x0C}});
    s[510] = 0;
    EXPECT_FALSE(isValidMbr(s.data()));
}

TEST(PartitionTableTest, AKnownEntryMustBeSane) {
    Sector s = mbrWith({{2048, 100000, 0x07}});
    entryOf(s, 0)[0] = 0x01; // boot indicator
    EXPECT_FALSE(isValidPartitionEntry(entryOf(s, 0)));
    EXPECT_FALSE(isValidMbr(s.data()));

    s = mbrWith({{0, 100000, 0x07}}); // start 0
    EXPECT_FALSE(isValidMbr(s.data()));
    s = mbrWith({{2048, 0, 0x07}}); // no sectors
    EXPECT_FALSE(isValidMbr(s.data()));

    // An empty slot passes whatever its other fields say.
    s = mbrWith({{0, 0, 0}});
    EXPECT_TRUE(isValidPartitionEntry(entryOf(s, 0)));
    entryOf(s, 0)[0] = 0x80;
    EXPECT_TRUE(isValidPartitionEntry(entryOf(s, 0)));
}

TEST(PartitionTableTest, TypesAndNames) {
    EXPECT_TRUE(isKnownPartitionType(0x86));
    EXPECT_FALSE(isKnownPartitionType(0x87));
    EXPECT_FALSE(isKnownPartitionType(0x0E));
    EXPECT_TRUE(isExtendedPartitionType(0x05));
    EXPECT_TRUE(isExtendedPartitionType(0x0F));
    EXPECT_FALSE(isExtendedPartitionType(0x85));

    EXPECT_EQ(partitionTypeName(0x00), "Unused");
    EXPECT_EQ(partitionTypeName(0x0B), "FAT 32");
    EXPECT_EQ(partitionTypeName(0x61), "SpdStr");
    EXPECT_EQ(partitionTypeName(0xDB), "CP/M");
    EXPECT_EQ(partitionTypeName(0xFF), "XnxBBT");
    EXPECT_EQ(partitionTypeName(0x9F), "(9Fh)");
    EXPECT_EQ(partitionTypeName(0x0D), "(0Dh)");
    for (int t = 0; t < 256; ++t)
        EXPECT_LE(partitionTypeName(static_cast<u8>(t)).size(), 6u) << t;
}

TEST(PartitionTableTest, FileSystemTypeNames) {
    EXPECT_EQ(fsTypeName(FS_FAT, FAT12, 0), "FAT12");
    EXPECT_EQ(fsTypeName(FS_FAT, FAT16_32, 0), "FAT16_32");
    EXPECT_EQ(fsTypeName(FS_FAT, FAT_NONE, 0x0B), "FATXX");
    EXPECT_EQ(fsTypeName(FS_NTFS, FAT_NONE, 0x83), "NTFS");
    EXPECT_EQ(fsTypeName(FS_NONE, FAT_NONE, 0x83), "Linux");
}

// ---- FAT entries ----

TEST(FatEntryTest, Fat12PairsAndHalfByteShift) {
    const u8 bytes[] = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00};
    ConstArray t(bytes, sizeof bytes);
    EXPECT_EQ(getFatEntry(FAT12, 0, t, 0), 0xFF8u);
    EXPECT_EQ(getFatEntry(FAT12, 1, t, 0), 0xFFFu);
    EXPECT_EQ(getFatEntry(FAT12, 2, t, 0), 0x003u);
    EXPECT_EQ(getFatEntry(FAT12, 3, t, 0), 0x004u);
    // A buffer that starts with the odd half of a pair.
    ConstArray shifted(bytes + 1, sizeof bytes - 1);
    EXPECT_EQ(getFatEntry(FAT12, 0, shifted, 1), 0xFFFu);
    EXPECT_EQ(getFatEntry(FAT12, 1, shifted, 1), 0x003u);
    EXPECT_THROW(getFatEntry(FAT12, 4, t, 0), std::out_of_range);
    EXPECT_EQ(getFatEntry(FAT16_32, 0, t, 0), 0u);
}

TEST(FatEntryTest, SetThenGetOnEveryWidth) {
    std::array<u8, 16> b{};
    b.fill(0xAA);
    Array a(b.data(), 16);
    setFatEntry(FAT12, 2, a, 0x123, 0);
    setFatEntry(FAT12, 3, a, 0xABC, 0);
    EXPECT_EQ(getFatEntry(FAT12, 2, a, 0), 0x123u);
    EXPECT_EQ(getFatEntry(FAT12, 3, a, 0), 0xABCu);
    EXPECT_EQ(getFatEntry(FAT12, 1, a, 0), 0xAAAu); // the neighbour keeps its nibbles
    EXPECT_EQ(getFatEntry(FAT12, 4, a, 0), 0xAAAu);

    setFatEntry(FAT16, 1, a, 0xFFF7, 0);
    EXPECT_EQ(getFatEntry(FAT16, 1, a, 0), 0xFFF7u);

    a.setLE32(8, 0xF0000000);
    setFatEntry(FAT32, 2, a, 0xFFFFFFFF, 0);
    EXPECT_EQ(a.getLE32(8), 0xFFFFFFFFu);
    setFatEntry(FAT32, 2, a, 0x00000123, 0);
    EXPECT_EQ(a.getLE32(8), 0xF0000123u); // the top four bits stay
    EXPECT_EQ(getFatEntry(FAT32, 2, a, 0), 0x123u);

    std::array<u8, 16> before = b;
    setFatEntry(FAT_NONE, 0, a, 5, 0);
    EXPECT_EQ(b, before);
}

TEST(FatEntryTest, Classes) {
    EXPECT_EQ(classifyFatEntry(FAT16, 0), FREE_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 1), NOT_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 3), NEXT_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 0xFFEF), NEXT_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 0xFFF0), RESERVED_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 0xFFF7), BAD_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT16, 0xFFF8), EOF_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT12, 0xFEF), NEXT_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT12, 0xFF6), RESERVED_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT12, 0xFFF), EOF_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT32, 0x0FFFFFF8), EOF_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT32, 0x0FFFFFF7), BAD_CLUSTER);
    EXPECT_EQ(classifyFatEntry(FAT32, 0x0FFFFFEF), NEXT_CLUSTER);
    for (FatType w : {FAT12, FAT16, FAT32})
        EXPECT_EQ(classifyFatEntry(w, 2), NOT_CLUSTER) << w;
    // A sector judged as both FAT16 and FAT32 has no width for its entries.
    EXPECT_EQ(classifyFatEntry(fatEntryWidthOf(FAT16_32), 0), FREE_CLUSTER);
    EXPECT_EQ(classifyFatEntry(fatEntryWidthOf(FAT16_32), 5), NOT_CLUSTER);
    EXPECT_EQ(fatEntryWidthOf(FAT32), FAT32);
    EXPECT_EQ(fatEntryWidthOf(FAT16_32), FAT_NONE);
}

TEST(FatEntryTest, ChainsLinkToClusterTwo) {
    // While a chain is followed, 2 is the first data cluster like any other.
    for (FatType w : {FAT12, FAT16, FAT32})
        EXPECT_EQ(classifyChainEntry(w, 2), NEXT_CLUSTER) << w;
    EXPECT_EQ(classifyChainEntry(FAT16, 1), NOT_CLUSTER);
    EXPECT_EQ(classifyChainEntry(FAT16, 0), FREE_CLUSTER);
    EXPECT_EQ(classifyChainEntry(FAT16, 0xFFFF), EOF_CLUSTER);
    EXPECT_EQ(classifyChainEntry(FAT_NONE, 2), NOT_CLUSTER);
}

TEST(FatEntryTest, Texts) {
    EXPECT_EQ(fatEntryText(FAT16, 0), "FREE");
    EXPECT_EQ(fatEntryText(FAT16, 0xFFF0), "RSRV");
    EXPECT_EQ(fatEntryText(FAT16, 0xFFF7), "BAD");
    EXPECT_EQ(fatEntryText(FAT12, 0xFF8), "EOF");
    EXPECT_EQ(fatEntryText(FAT32, 1234), "1234");
    EXPECT_EQ(fatEntryText(FAT16_32, 0xFFFF), "65535");
    EXPECT_STREQ(clusterTypeName(NEXT_CLUSTER), "NEXT_CLUSTER");
    EXPECT_STREQ(clusterTypeName(6), "");
}

// ---- FAT widths ----

TEST(FatTypeTest, BySectorsPerFatAndByClusterCount) {
    EXPECT_EQ(fatTypeBySectorsPerFat(0), FAT_NONE);
    EXPECT_EQ(fatTypeBySectorsPerFat(1), FAT12);
    EXPECT_EQ(fatTypeBySectorsPerFat(12), FAT12);
    EXPECT_EQ(fatTypeBySectorsPerFat(13), FAT_NONE);
    EXPECT_EQ(fatTypeBySectorsPerFat(16), FAT16);
    EXPECT_EQ(fatTypeBySectorsPerFat(256), FAT16);
    EXPECT_EQ(fatTypeBySectorsPerFat(300), FAT_NONE);
    EXPECT_EQ(fatTypeBySectorsPerFat(512), FAT32);
    EXPECT_EQ(fatTypeBySectorsPerFat(0x200000), FAT32);
    EXPECT_EQ(fatTypeBySectorsPerFat(0x200001), FAT_NONE);

    EXPECT_EQ(fatTypeByClusterCount(4084), FAT12);
    EXPECT_EQ(fatTypeByClusterCount(4085), FAT16);
    EXPECT_EQ(fatTypeByClusterCount(65524), FAT16);
    EXPECT_EQ(fatTypeByClusterCount(65525), FAT32);
    EXPECT_EQ(fatTypeByClusterCount(0x0FFFFFF5), FAT32);
    EXPECT_EQ(fatTypeByClusterCount(0x0FFFFFF6), FAT_NONE);

    EXPECT_EQ(fatEntryCount(FAT12, 9), 3072u);
    EXPECT_EQ(fatEntryCount(FAT16, 16), 4096u);
    EXPECT_EQ(fatEntryCount(FAT32, 0x200000), 1ull << 28);

    for (u32 v = 0; v <= 256; ++v) {
        bool power =
            v == 1 || v == 2 || v == 4 || v == 8 || v == 16 || v == 32 || v == 64 || v == 128;
        EXPECT_EQ(isValidSectorsPerCluster(v), power) << v;
    }
}

// ---- FAT sectors ----

TEST(FatSectorTest, FirstSectorsOfRealFats) {
    TempDir dir;
    struct Case {
        int bits;
        u32 sizeKiB;
        FatType expected;
    };
    for (Case c : {Case{12, 1440, FAT12}, Case{16, 20000, FAT16}, Case{32, 40000, FAT32}}) {
        FatImageOptions o;
        o.fatBits = c.bits;
        o.sizeKiB = c.sizeKiB;
        FatImage image(dir.file("fat.img"), o);
        // A few files so that the FAT holds chains, not only free entries.
        image.makeFolder("dir");
        image.addFile("dir/a.bin", std::string(5000, 'a'));
        image.addFile("b.bin", std::string(70000, 'b'));
        std::string boot = image.bootSector();
        u32 reserved = static_cast<u8>(boot[14]) | static_cast<u8>(boot[15]) << 8;
        Sector fat = sectorOf(readAt(image.path(), u64{reserved} * 512, 512));
        FatType guessed = FAT_NONE;
        ASSERT_TRUE(guessFatTypeOfSector(fat.data(), guessed)) << hexDump(fat.data(), 64);
        EXPECT_EQ(guessed, c.expected) << c.bits;
        // The boot sector itself is no FAT.
        Sector bootSector = sectorOf(boot);
        FatType untouched = FAT16_32;
        EXPECT_FALSE(guessFatTypeOfSector(bootSector.data(), untouched));
        EXPECT_EQ(untouched, FAT16_32);
    }
}

TEST(FatSectorTest, StartOfEachWidth) {
    Sector s{};
    const u8 fat12[] = {0xF0, 0xFF, 0xFF};
    std::copy(fat12, fat12 + 3, s.begin());
    EXPECT_TRUE(isFatStartSector(s.data(), FAT12));
    s[0] = 0xF9; // another media byte
    EXPECT_FALSE(isFatStartSector(s.data(), FAT12));

    s = fat16Start({});
    EXPECT_TRUE(isFatStartSector(s.data(), FAT16));
    s[3] = 0x3F; // entry 1's two flag bits are ignored
    EXPECT_TRUE(isFatStartSector(s.data(), FAT16));

    s = Sector{};
    Array a(s.data(), 512);
    a.setLE32(0, 0x0FFFFFF8);
    a.setLE32(4, 0x03FFFFFF); // top six bits ignored
    EXPECT_TRUE(isFatStartSector(s.data(), FAT32));
    a.setLE32(4, 0x03FFFFFE);
    EXPECT_FALSE(isFatStartSector(s.data(), FAT32));
    EXPECT_FALSE(isFatStartSector(s.data(), FAT16_32));
}

TEST(FatSectorTest, Plausibility) {
    // Chains 2->3->4->EOF (written from entry 2 on) and free entries.
    Sector s = fat16Start({3, 4, 0xFFFF, 0, 0});
    EXPECT_TRUE(isPlausibleFatSector(FAT16, s.data()));
    // Entries 2 and 5 both link to cluster 9.
    s = fat16Start({9, 0, 0, 9});
    EXPECT_FALSE(isPlausibleFatSector(FAT16, s.data()));
    // A link back to cluster 2 is what random data looks like.
    s = fat16Start({0, 2});
    EXPECT_FALSE(isPlausibleFatSector(FAT16, s.data()));
    s = fat16Start({1});
    EXPECT_FALSE(isPlausibleFatSector(FAT16, s.data()));
    EXPECT_FALSE(isPlausibleFatSector(FAT16_32, s.data()));
}

TEST(FatSectorTest, GuessPrefersFat16And32OverFat12) {
    // Entry 0 0x0FFFFFF8 and entry 1 with its low 26 bits set: a FAT32 start
    // that is no FAT16 start (0x0FFFFFF8 lacks bits 28 and 29).
    Sector s{};
    const u8 start[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    std::copy(start, start + 8, s.begin());
    FatType t = FAT_NONE;
    ASSERT_TRUE(guessFatTypeOfSector(s.data(), t));
    EXPECT_EQ(t, FAT32);

    // 0x3FFFFFF8 then 0x03FFFFFF: both starts, and both widths read the zeros
    // after them as free entries.
    const u8 both[] = {0xF8, 0xFF, 0xFF, 0x3F, 0xFF, 0xFF, 0xFF, 0x03};
    std::copy(both, both + 8, s.begin());
    ASSERT_TRUE(guessFatTypeOfSector(s.data(), t));
    EXPECT_EQ(t, FAT16_32);

    // F8 FF FF then free: a FAT12 start only.
    s = Sector{};
    const u8 fat12[] = {0xF8, 0xFF, 0xFF};
    std::copy(fat12, fat12 + 3, s.begin());
    ASSERT_TRUE(guessFatTypeOfSector(s.data(), t));
    EXPECT_EQ(t, FAT12);

    s = fat16Start({3, 0xFFFF});
    ASSERT_TRUE(guessFatTypeOfSector(s.data(), t));
    EXPECT_EQ(t, FAT16);
}

// ---- Names in boot sectors ----

TEST(SpacePaddedNameTest, LettersOrDigitsThenBlanks) {
    auto check = [](const char* s) { return isSpacePaddedName(reinterpret_cast<const u8*>(s), 8); };
    EXPECT_TRUE(check("FAT16   "));
    EXPECT_TRUE(check("        "));
    EXPECT_TRUE(check("ABCDEFGH"));
    EXPECT_FALSE(check("FAT 16  "));
    EXPECT_FALSE(check("FAT-16  "));
    EXPECT_FALSE(check(" FAT16  "));
    EXPECT_FALSE(isSpacePaddedName(reinterpret_cast<const u8*>("\0\0\0\0\0\0\0\0"), 8));
    EXPECT_TRUE(isSpacePaddedName(nullptr, 0));
}
